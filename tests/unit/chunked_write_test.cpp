#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "runner/harness.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

// Built once: the payloads live for the whole process, as in the runner.
void ensurePayloads()
{
    if (bulkPayload == nullptr) {
        ASSERT_TRUE(preparePayloads());
    }
}

class ChunkedWriteTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        ensurePayloads();
        port = OpenPortA("p", "s", 5000);
    }
    PortHandle port = nullptr;
};

// A library that accepts up to `perCall` bytes and records every offset the
// suite wrote from, so a resend from the wrong place shows.
struct Acceptor {
    uint32_t perCall;
    std::vector<uint32_t> sizes;
};

void acceptUpTo(Acceptor& acceptor)
{
    fake::library().write = [&acceptor](PortHandle, const void*, uint32_t size, uint32_t* written) {
        acceptor.sizes.push_back(size);
        *written = size < acceptor.perCall ? size : acceptor.perCall;
        return VX_TRUE;
    };
}

TEST_F(ChunkedWriteTests, BulkPayloadAt4096PerCallTakesThreeCallsFromTheFirstUnsentByte)
{
    Acceptor acceptor { 4096, {} };
    acceptUpTo(acceptor);
    EXPECT_EQ(timedChunkedWrite(port, bulkPayload, BULK_PAYLOAD_SIZE), WRITE_ALL_WRITTEN);
    EXPECT_EQ(acceptor.sizes, (std::vector<uint32_t> { 10240, 6144, 2048 }));
}

TEST_F(ChunkedWriteTests, OneBytePerCallWritesTheRasterJobInOneCallPerByteHoweverSlow)
{
    uint32_t calls = 0;
    bool inOrder = true;
    fake::library().write = [&](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
        inOrder = inOrder && static_cast<const unsigned char*>(bytes) == rasterJob + calls
            && size == RASTER_JOB_SIZE - calls;
        ++calls;
        // Each call takes longer than the stall limit, yet accepts a byte.
        fake::advance(6000);
        *written = 1;
        return VX_TRUE;
    };
    EXPECT_EQ(timedChunkedWrite(port, rasterJob, RASTER_JOB_SIZE), WRITE_ALL_WRITTEN);
    EXPECT_EQ(calls, RASTER_JOB_SIZE);
    EXPECT_TRUE(inOrder);
}

// Each case: clock start, milliseconds each call takes, and the counts the
// calls report in turn (the last repeats for ever).
struct StallCase {
    const char* name;
    uint32_t clockStart;
    uint32_t callMs;
    std::vector<uint32_t> counts;
    WriteOutcome outcome;
    size_t calls;
};

TEST_F(ChunkedWriteTests, StallLimitCountsFromTheStartOfEachChunk)
{
    const StallCase cases[] = {
        { "nothing ever accepted stalls at 5000 ms", 1000, 1000, { 0 }, WRITE_STALLED, 5 },
        { "a call returning at 4999 ms is retried", 1000, 4999, { 0 }, WRITE_STALLED, 2 },
        { "the timer restarts after progress", 1000, 1000, { 0, 0, 0, 0, 5, 0, 0, 0, 0, 10235 }, WRITE_ALL_WRITTEN,
            10 },
        { "the tick counter wrapping is no stall", 0xFFFFFFFFu - 1500, 1000, { 0, 0, 0, 0, 10240 }, WRITE_ALL_WRITTEN,
            5 },
        { "a count above the offer is a fault", 1000, 1, { 0, 10241 }, WRITE_COUNT_TOO_LARGE, 2 },
    };
    for (const StallCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset(c.clockStart);
        PortHandle p = OpenPortA("p", "s", 5000);
        size_t calls = 0;
        fake::library().write = [&](PortHandle, const void*, uint32_t, uint32_t* written) {
            *written = c.counts[calls < c.counts.size() ? calls : c.counts.size() - 1];
            ++calls;
            fake::advance(c.callMs);
            return VX_TRUE;
        };
        EXPECT_EQ(timedChunkedWrite(p, bulkPayload, BULK_PAYLOAD_SIZE), c.outcome);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST_F(ChunkedWriteTests, FailedOutcomesCloseThePortBeforeTheirLine)
{
    const struct {
        WriteOutcome outcome;
        const char* text;
    } cases[] = {
        { WRITE_RETURNED_FALSE, "failure: line(42) WritePort returned VX_FALSE\n" },
        { WRITE_STALLED, "failure: line(42) WritePort timed out\n" },
        { WRITE_COUNT_TOO_LARGE, "failure: line(42) WritePort reported more bytes written than it was given\n" },
    };
    for (const auto& c : cases) {
        fake::reset();
        PortHandle p = OpenPortA("p", "s", 5000);
        bool passed = true;
        std::string out = fake::runConsole("", [&] { passed = checkWriteOutcome(p, { 42, "write" }, c.outcome); });
        EXPECT_FALSE(passed);
        EXPECT_EQ(out, c.text);
        EXPECT_EQ(fake::library().closeOutputOffsets, std::vector<long> { 0 });
    }
}

TEST(PayloadTests, LayoutSpotChecks)
{
    ensurePayloads();
    const unsigned char head[] = { 0x1B, 0x2A, 0x72, 0x52, 0x1B, 0x2A, 0x72, 0x41, 0x62, 0x48, 0x00, 0xFF };
    EXPECT_EQ(memcmp(rasterJob, head, sizeof head), 0);
    // Last row, then ESC FF NUL, ESC * r B, ten BELs, trailing zeros.
    EXPECT_EQ(rasterJob[8 + 1599 * 75], 0x62);
    EXPECT_EQ(rasterJob[120007], 0xFF);
    const unsigned char tail[] = { 0x1B, 0x0C, 0x00, 0x1B, 0x2A, 0x72, 0x42, 0x07 };
    EXPECT_EQ(memcmp(rasterJob + 120008, tail, sizeof tail), 0);
    EXPECT_EQ(rasterJob[120024], 0x07);
    EXPECT_EQ(rasterJob[120025], 0x00);
    EXPECT_EQ(rasterJob[RASTER_JOB_SIZE - 1], 0x00);

    unsigned marks = 0;
    for (uint32_t i = 0; i < BULK_PAYLOAD_SIZE; ++i) {
        if (bulkPayload[i] != 0) {
            ++marks;
            EXPECT_EQ(bulkPayload[i], 0x07);
            EXPECT_EQ(i % 1024, 0u);
        }
    }
    EXPECT_EQ(marks, 10u);
}

} // namespace
