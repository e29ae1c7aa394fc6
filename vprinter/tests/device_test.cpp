#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "portlib/KelmorPort.h"
#include "vprinter/device.h"

using namespace vprinter;
using namespace wire;

namespace {

const std::string ESC_K("\x1B\x4B\x01\x00", 4);
const std::string FIRMWARE_QUERY("\x1B\x23\x2A\x0A\x00", 5);
const std::string VALIDATE("\x1B\x2B\x41\x33\n\n\n\n\n\n", 10);

size_t send(Device& device, const std::string& bytes, uint64_t now = 0)
{
    return device.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
}

std::string replies(Device& device)
{
    uint8_t buffer[256];
    size_t got = device.takeReply(buffer, sizeof buffer, 0);
    return std::string(reinterpret_cast<char*>(buffer), got);
}

int32_t word(const std::vector<uint8_t>& record, uint32_t offset) { return statusWord(record.data(), offset); }

} // namespace

// Each row: how the printer is taken offline, and which recovery brings it back.
struct OfflineCase {
    const char* name;
    void (*fault)(Device&);
    void (*cure)(Device&);
    bool latches;
};

// GoogleTest would print the row's bytes, function addresses among them, into
// --gtest_list_tests and so into CTest's names: a new list on every build.
void PrintTo(const OfflineCase& row, std::ostream* out) { *out << row.name; }

class OfflineTest : public ::testing::TestWithParam<OfflineCase> { };

TEST_P(OfflineTest, OfflineUntilCauseGoneAndRecovered)
{
    Device device;
    GetParam().fault(device);
    EXPECT_TRUE(device.offline());
    EXPECT_EQ(send(device, "data"), 0u) << "an offline printer takes nothing";
    EXPECT_EQ(device.errorLatched(), GetParam().latches);
    GetParam().cure(device);
    if (GetParam().latches) {
        EXPECT_TRUE(device.offline()) << "the latch outlives its cause";
        EXPECT_EQ(send(device, ESC_K), ESC_K.size()) << "the recovery command must get through";
    }
    EXPECT_FALSE(device.offline());
    EXPECT_FALSE(device.errorLatched());
    EXPECT_EQ(send(device, "data"), 4u);
}

INSTANTIATE_TEST_SUITE_P(Causes, OfflineTest,
    ::testing::Values(OfflineCase { "button", [](Device& d) { d.pressOnline(false); },
                          [](Device& d) { d.pressOnline(true); }, false },
        OfflineCase { "cover", [](Device& d) { d.setCover(true); }, [](Device& d) { d.setCover(false); }, true },
        OfflineCase { "paper", [](Device& d) { d.setPaper(false); }, [](Device& d) { d.setPaper(true); }, true },
        OfflineCase { "both",
            [](Device& d) {
                d.setCover(true);
                d.setPaper(false);
            },
            [](Device& d) {
                d.setCover(false);
                d.setPaper(true);
            },
            true }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceTest, LatchStaysWhileItsCauseRemains)
{
    Device device;
    device.setCover(true);
    device.setPaper(false);
    device.setCover(false);
    device.pressOnline(true);
    EXPECT_TRUE(device.errorLatched()) << "paper is still out";
    device.reset();
    EXPECT_TRUE(device.errorLatched()) << "a reset cannot clear a present cause";
    device.setPaper(true);
    device.pressOnline(true);
    EXPECT_FALSE(device.offline());
}

TEST(DeviceTest, PowerCycleForgetsLatchSlipAndRepliesAndComesUpOnline)
{
    Device device;
    device.pressOnline(false);
    device.setCover(true);
    device.setSlipBOF(true);
    device.setCover(false);
    send(device, FIRMWARE_QUERY);
    device.setPower(false);
    EXPECT_FALSE(device.reachable());
    EXPECT_TRUE(device.offline());
    device.setPower(true);
    EXPECT_FALSE(device.offline());
    EXPECT_FALSE(device.physical().slipBOF);
    EXPECT_EQ(device.pendingReply(), 0u);
}

TEST(DeviceTest, UnpluggedPrinterTakesNothingAndKeepsItsState)
{
    Device device;
    device.setSlipTOF(true);
    device.setConnected(false);
    EXPECT_EQ(send(device, "x"), 0u);
    EXPECT_TRUE(device.offline());
    device.setConnected(true);
    EXPECT_TRUE(device.physical().slipTOF);
    EXPECT_FALSE(device.offline());
}

TEST(DeviceTest, FirmwareQuerySplitOverWritesQueuesTheNamedReply)
{
    Device device(DeviceOptions { "FW-9", 0, 1000 });
    // Split inside the command, with unrelated bytes before it.
    EXPECT_EQ(send(device, "\x07\x1B\x23"), 3u);
    EXPECT_EQ(device.pendingReply(), 0u);
    send(device, FIRMWARE_QUERY.substr(2));
    EXPECT_EQ(replies(device),
        std::string("\x1B\x23\x2A\x2C"
                    "FW-9\n",
            9)
            + '\0');
    EXPECT_EQ(replies(device), "");
    EXPECT_EQ(device.lastCommand(), "firmware query");
}

TEST(DeviceTest, RepliesAreTakenInPiecesAndBounded)
{
    Device device;
    send(device, FIRMWARE_QUERY);
    uint8_t piece[3];
    EXPECT_EQ(device.takeReply(piece, sizeof piece, 0), 3u);
    EXPECT_EQ(piece[0], 0x1B);
    EXPECT_EQ(device.takeReply(piece, 1, 0), 1u);
    EXPECT_EQ(piece[0], 0x2C);
    std::string many;
    for (int i = 0; i < 20000; ++i) many += FIRMWARE_QUERY;
    send(device, many);
    EXPECT_LE(device.pendingReply(), 64u * 1024u) << "unread replies must not grow for ever";
}

TEST(DeviceTest, ResetDropsRepliesAndAHalfReceivedCommand)
{
    Device device;
    send(device, FIRMWARE_QUERY);
    send(device, FIRMWARE_QUERY.substr(0, 3));
    device.reset();
    EXPECT_EQ(device.pendingReply(), 0u);
    send(device, FIRMWARE_QUERY.substr(3));
    EXPECT_EQ(device.pendingReply(), 0u) << "the tail alone is not a query";
}

TEST(DeviceTest, ValidationMovesASlipFromBOFToCOF)
{
    Device device;
    send(device, VALIDATE);
    EXPECT_FALSE(device.physical().slipCOF) << "nothing to validate";
    device.setSlipBOF(true);
    send(device, VALIDATE.substr(0, 6));
    send(device, VALIDATE.substr(6));
    EXPECT_FALSE(device.physical().slipBOF);
    EXPECT_TRUE(device.physical().slipCOF);
    std::vector<uint8_t> record = device.record(LAYOUT_L1);
    EXPECT_EQ(word(record, VX_OFFSET_SLIP_COF), 1);
    EXPECT_EQ(word(record, VX_OFFSET_SLIP_BOF), 0);
}

TEST(DeviceTest, RecordsHoldEachWordAtItsOffsetAndNothingElse)
{
    Device device;
    device.setCover(true);
    device.setPaper(false);
    device.setSlipTOF(true);
    device.setSlipBOF(true);
    device.setSlipCOF(true);
    device.setValidationPaper(true);

    std::vector<uint8_t> level1 = device.record(LAYOUT_L1);
    ASSERT_EQ(level1.size(), VX_STATUS_LEVEL1_SIZE);
    const uint32_t set[] = { VX_OFFSET_COVER_OPEN, VX_OFFSET_OFFLINE, VX_OFFSET_PAPER_EMPTY_LEVEL1, VX_OFFSET_SLIP_TOF,
        VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF, VX_OFFSET_VALIDATION_PAPER_PRESENCE };
    int ones = 0;
    for (uint32_t offset = 0; offset < level1.size(); offset += 4) {
        bool expected = std::find(std::begin(set), std::end(set), offset) != std::end(set);
        EXPECT_EQ(word(level1, offset), expected ? 1 : 0) << "offset " << offset;
        ones += word(level1, offset);
    }
    EXPECT_EQ(ones, 7);

    std::vector<uint8_t> old = device.record(LAYOUT_OLD);
    ASSERT_EQ(old.size(), VX_STATUS_OLD_SIZE);
    for (uint32_t offset = 0; offset < old.size(); offset += 4) {
        bool expected
            = offset == VX_OFFSET_COVER_OPEN || offset == VX_OFFSET_OFFLINE || offset == VX_OFFSET_PAPER_EMPTY_OLD;
        EXPECT_EQ(word(old, offset), expected ? 1 : 0) << "offset " << offset;
    }
}

TEST(DeviceTest, RateLimitTakesBytesAsTimePasses)
{
    Device device(DeviceOptions { "X", 1000, 1000 });
    std::string big(10000, 'a');
    size_t first = send(device, big, 0);
    EXPECT_LE(first, 100u) << "no more than a burst at once";
    EXPECT_EQ(send(device, big, 0), 0u);
    uint64_t next = device.nextAcceptAt(0);
    EXPECT_GT(next, 0u);
    EXPECT_LE(next, 1u);
    EXPECT_EQ(send(device, big, 50), 50u);
    EXPECT_EQ(device.bytesReceived(), first + 50);
}

TEST(DeviceTest, EndedBlockPrintsItsBytesUnlessTheCoverOpens)
{
    Device device(DeviceOptions { "X", 0, 1000, 1000 });
    device.beginBlock();
    device.endBlock(100);
    EXPECT_EQ(device.jobState(100), JobState::Printed) << "an empty block has nothing to print";

    device.beginBlock();
    send(device, "job", 100);
    device.endBlock(200);
    EXPECT_EQ(device.jobState(200), JobState::Printing);
    EXPECT_EQ(device.jobState(1202), JobState::Printing) << "1000 ms and three bytes at 1000 a second";
    EXPECT_EQ(device.jobState(1203), JobState::Printed);

    device.beginBlock();
    send(device, "job", 2000);
    device.endBlock(2000);
    device.setCover(true);
    EXPECT_EQ(device.jobState(2001), JobState::Interrupted);
    std::vector<uint8_t> record = device.record(LAYOUT_L1);
    EXPECT_EQ(word(record, VX_OFFSET_OFFLINE), 1);
    EXPECT_EQ(word(record, VX_OFFSET_COVER_OPEN), 1);
}
