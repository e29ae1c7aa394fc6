#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

// One (result, online flag) per GetOnlineStatus call.
struct Answer {
    VX_BOOL result;
    VX_BOOL online;
};

// Each case scripts the calls of one test; a null text means it passes. The
// record read after Test Get Online Status's offline step shows `offline`.
struct Case {
    bool (*test)(const char*, const char*);
    std::vector<Answer> answers;
    const char* text;
    VX_BOOL offline = VX_TRUE;
};

class ResetOnlineTests : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    void runCase(const Case& c, const char* operation)
    {
        fake::reset();
        std::vector<Answer> answers = c.answers;
        size_t calls = 0;
        fake::library().onlineStatus = [&](PortHandle, VX_BOOL* online) {
            Answer a = answers.at(calls++);
            *online = a.online;
            return a.result;
        };
        fake::library().reset = [&](PortHandle) { return answers.at(calls++).result; };
        fake::library().parsedStatus = [&](PortHandle, unsigned char* record, uint32_t size) {
            memset(record, 0, size);
            fake::setWord(record, VX_OFFSET_OFFLINE, c.offline);
            return VX_TRUE;
        };
        bool passed = !!c.text;
        std::string out = fake::runConsole("\n\n\n", [&] { passed = c.test("LPT1", "x"); });
        EXPECT_EQ(fake::count(operation), c.answers.size());
        EXPECT_EQ(fake::library().openHandles, 0);
        EXPECT_EQ(fake::count("ClosePort"), 1u);
        if (c.text == nullptr) {
            EXPECT_TRUE(passed);
            EXPECT_EQ(out.find("failure"), std::string::npos) << out;
            return;
        }
        EXPECT_FALSE(passed);
        fake::expectFailureAfterClose(out, c.text);
    }
};

TEST_F(ResetOnlineTests, ResetDevice)
{
    const Case cases[] = {
        { testResetDevice, { { VX_TRUE, 0 } }, nullptr },
        { testResetDevice, { { 7, 0 } }, nullptr },
        { testResetDevice, { { VX_FALSE, 0 } }, "ResetDevice returned VX_FALSE\n" },
        { testResetDeviceDisconnect, { { VX_TRUE, 0 }, { VX_FALSE, 0 }, { VX_TRUE, 0 } }, nullptr },
        { testResetDeviceDisconnect, { { VX_FALSE, 0 } }, "ResetDevice returned VX_FALSE\n" },
        { testResetDeviceDisconnect, { { VX_TRUE, 0 }, { 2, 0 } }, "ResetDevice did not fail as expected\n" },
        { testResetDeviceDisconnect, { { VX_TRUE, 0 }, { VX_FALSE, 0 }, { VX_FALSE, 0 } },
            "ResetDevice returned VX_FALSE\n" },
    };
    for (const Case& c : cases) runCase(c, "ResetDevice");
}

TEST_F(ResetOnlineTests, OnlineFlagMustBeExactlyOneThenExactlyZero)
{
    const Case cases[] = {
        { testGetOnlineStatus, { { VX_TRUE, 1 }, { VX_TRUE, 0 } }, nullptr },
        { testGetOnlineStatus, { { VX_FALSE, 1 } }, "GetOnlineStatus returned VX_FALSE\n" },
        { testGetOnlineStatus, { { VX_TRUE, 2 } }, "onlineStatus != VX_TRUE\n" },
        { testGetOnlineStatus, { { VX_TRUE, 1 }, { VX_FALSE, 0 } }, "GetOnlineStatus returned VX_FALSE\n" },
        { testGetOnlineStatus, { { VX_TRUE, 1 }, { VX_TRUE, 2 } }, "onlineStatus != VX_FALSE\n" },
        { testGetOnlineStatus, { { VX_TRUE, 1 }, { VX_TRUE, 1 } }, "onlineStatus != VX_FALSE\n" },
        // The record must agree with the offline flag, exactly.
        { testGetOnlineStatus, { { VX_TRUE, 1 }, { VX_TRUE, 0 } }, "status.offline != VX_TRUE\n", VX_FALSE },
        { testGetOnlineStatus, { { VX_TRUE, 1 }, { VX_TRUE, 0 } }, "status.offline != VX_TRUE\n", 2 },
    };
    for (const Case& c : cases) runCase(c, "GetOnlineStatus");
}

TEST_F(ResetOnlineTests, OnlineStatusAcrossADisconnect)
{
    const Case cases[] = {
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_FALSE, 1 }, { VX_TRUE, 1 } }, nullptr },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_TRUE, 0 }, { VX_TRUE, 1 } }, nullptr },
        // Unplugged, success with any flag but 1 is the expected failure; a
        // flag left as lent is no answer at all.
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_TRUE, 2 }, { VX_TRUE, 1 } }, nullptr },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_TRUE, -1 }, { VX_TRUE, 1 } }, nullptr },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_TRUE, static_cast<VX_BOOL>(LENT_PATTERN) } },
            "GetOnlineStatus returned VX_TRUE without setting onlineStatus\n" },
        { testGetOnlineStatusDisconnect,
            { { VX_TRUE, 1 }, { VX_FALSE, static_cast<VX_BOOL>(LENT_PATTERN) }, { VX_TRUE, 1 } }, nullptr },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 2 } }, "onlineStatus != VX_TRUE\n" },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_TRUE, 1 } },
            "GetOnlineStatus did not fail as expected\n" },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_FALSE, 0 }, { VX_FALSE, 1 } },
            "GetOnlineStatus returned VX_FALSE\n" },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_FALSE, 0 }, { VX_TRUE, 0 } },
            "onlineStatus != VX_TRUE\n" },
        { testGetOnlineStatusDisconnect, { { VX_TRUE, 1 }, { VX_FALSE, 0 }, { VX_TRUE, 2 } },
            "onlineStatus != VX_TRUE\n" },
    };
    for (const Case& c : cases) runCase(c, "GetOnlineStatus");
}

TEST_F(ResetOnlineTests, PassingTestsPrintBannerAndPromptsOnly)
{
    const struct {
        bool (*test)(const char*, const char*);
        const char* out;
    } cases[] = {
        { testResetDevice, "testResetDevice\nMake the printer online, then hit enter\n" },
        { testResetDeviceDisconnect,
            "testResetDeviceDisconnect\nMake the printer online and hit enter\n"
            "Disconnect the printer and hit enter\nConnect the printer and hit enter\n" },
        { testGetOnlineStatus,
            "testGetOnlineStatus\nMake the printer online, then hit enter\n"
            "Make the printer offline, then hit enter\n" },
        { testGetOnlineStatusDisconnect,
            "testGetOnlineStatusDisconnect\nMake the printer online and hit enter\n"
            "Disconnect the printer and hit enter\nConnect the printer and hit enter\n" },
    };
    for (const auto& c : cases) {
        fake::reset();
        int calls = 0;
        fake::library().reset = [&](PortHandle) { return ++calls == 2 ? VX_FALSE : VX_TRUE; };
        fake::library().onlineStatus = [&](PortHandle, VX_BOOL* online) {
            *online = ++calls == 2 ? VX_FALSE : VX_TRUE;
            return VX_TRUE;
        };
        fake::library().parsedStatus = [](PortHandle, unsigned char* record, uint32_t size) {
            memset(record, 0, size);
            fake::setWord(record, VX_OFFSET_OFFLINE, VX_TRUE);
            return VX_TRUE;
        };
        bool passed = false;
        EXPECT_EQ(fake::runConsole("\n\n\n", [&] { passed = c.test("a", "b"); }), c.out);
        EXPECT_TRUE(passed);
        EXPECT_EQ(fake::library().openTimeLimits, std::vector<uint32_t> { 5000 });
    }
}

// A library that answers without setting the flag must not pass for an
// offline printer because of whatever the flag held before.
TEST_F(ResetOnlineTests, SuccessWithoutAFlagIsNeitherOnlineNorOffline)
{
    int calls = 0;
    fake::library().onlineStatus = [&](PortHandle, VX_BOOL* online) {
        if (++calls == 1) *online = VX_TRUE;
        return VX_TRUE;
    };
    bool passed = true;
    std::string out = fake::runConsole("\n\n", [&] { passed = testGetOnlineStatus("a", "b"); });
    EXPECT_FALSE(passed);
    fake::expectFailureAfterClose(out, "onlineStatus != VX_FALSE\n");
}

} // namespace
