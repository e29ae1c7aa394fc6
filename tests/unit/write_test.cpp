#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

// One (result, count) per WritePort call, in order.
typedef std::vector<std::pair<VX_BOOL, uint32_t>> WriteScript;

class WriteTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        if (bulkPayload == nullptr) {
            ASSERT_TRUE(preparePayloads());
        }
    }

    void script(const WriteScript& steps)
    {
        writes = steps;
        fake::library().write = [this](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
            size_t call = fake::count("WritePort") - 1;
            if (call >= writes.size()) ADD_FAILURE() << "unexpected WritePort call " << call;
            if (bytes != bulkPayload || size != BULK_PAYLOAD_SIZE) ADD_FAILURE() << "not the whole bulk payload";
            if (call >= writes.size()) return VX_FALSE;
            *written = writes[call].second;
            return writes[call].first;
        };
    }

    std::string run(TestProcedure test)
    {
        return fake::runConsole("\n\n\n", [&] { passed = test("COM3", "set"); });
    }

    // Passed with nothing printed but the banner and prompts, port closed once.
    void expectPassed(const std::string& out, const std::string& expected)
    {
        EXPECT_TRUE(passed);
        EXPECT_EQ(out, expected);
        EXPECT_EQ(fake::count("ClosePort"), 1u);
        EXPECT_EQ(fake::library().openHandles, 0);
    }

    // The port is closed before the one failure line, which ends the output.
    void expectFailed(const std::string& out, const std::string& text)
    {
        EXPECT_FALSE(passed);
        fake::expectFailureAfterClose(out, text);
    }

    WriteScript writes;
    bool passed = false;
};

const uint32_t BULK = BULK_PAYLOAD_SIZE;
const char OFFLINE_PROMPTS[] = "testWriteOfflineTimeout\n"
                               "Make the printer online, then make it offline, then hit enter\n";

TEST_F(WriteTests, OfflineTimeoutPassesOnTheFirstRefusedOrEmptyWrite)
{
    const struct {
        WriteScript writes;
        size_t calls;
    } cases[] = {
        { { { VX_FALSE, 0 } }, 1 },
        { { { VX_TRUE, 0 } }, 1 },
        { { { VX_TRUE, BULK }, { 2, 100 }, { VX_TRUE, 0 } }, 3 },
    };
    for (const auto& c : cases) {
        fake::reset();
        script(c.writes);
        expectPassed(run(testWriteOfflineTimeout), OFFLINE_PROMPTS);
        EXPECT_EQ(fake::count("WritePort"), c.calls);
    }
}

TEST_F(WriteTests, OfflineTimeoutFailsWhenThreeWritesAllGoOut)
{
    script({ { VX_TRUE, BULK }, { VX_TRUE, BULK }, { VX_TRUE, 1 } });
    expectFailed(run(testWriteOfflineTimeout), "all data written out without the expected failure\n");
}

TEST_F(WriteTests, OfflineTimeoutRejectsACountAboveTheSize)
{
    script({ { VX_TRUE, BULK + 1 } });
    expectFailed(run(testWriteOfflineTimeout), "WritePort reported more bytes written than it was given\n");
}

TEST_F(WriteTests, DisconnectPassesWhenTheMiddleWriteFailsEitherWay)
{
    const char* prompts = "testWriteDisconnect\n"
                          "Make the printer online and hit enter\n"
                          "Disconnect the printer and hit enter\n"
                          "Connect the printer and hit enter\n";
    for (VX_BOOL duringDisconnect : { VX_FALSE, VX_TRUE }) {
        fake::reset();
        // Partial writes on either side count as success.
        script({ { VX_TRUE, 1 }, { duringDisconnect, 0 }, { VX_TRUE, BULK - 1 } });
        expectPassed(run(testWriteDisconnect), prompts);
        EXPECT_EQ(fake::count("WritePort"), 3u);
        EXPECT_EQ(fake::count("OpenPortA"), 1u);
    }
}

TEST_F(WriteTests, DisconnectFailures)
{
    const struct {
        WriteScript writes;
        const char* text;
    } cases[] = {
        { { { VX_FALSE, 0 } }, "WritePort returned VX_FALSE\n" },
        { { { VX_TRUE, 0 } }, "WritePort timed out\n" },
        { { { VX_TRUE, BULK + 1 } }, "WritePort reported more bytes written than it was given\n" },
        { { { VX_TRUE, BULK }, { VX_TRUE, 5 } }, "WritePort did not fail as expected\n" },
        // Unplugged, any count but 0 claims bytes taken, an unset one too.
        { { { VX_TRUE, BULK }, { VX_TRUE, 0xFFFFFFFF } }, "WritePort did not fail as expected\n" },
        { { { VX_TRUE, BULK }, { VX_FALSE, 0 }, { VX_FALSE, 0 } }, "WritePort returned VX_FALSE\n" },
        { { { VX_TRUE, BULK }, { VX_FALSE, 0 }, { VX_TRUE, 0 } }, "WritePort timed out\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake::reset();
        script(c.writes);
        expectFailed(run(testWriteDisconnect), c.text);
        EXPECT_EQ(fake::count("WritePort"), c.writes.size());
    }
}

TEST_F(WriteTests, WriteSendsTheBulkPayloadAndFailsClosedOnAStall)
{
    expectPassed(run(testWrite), "testWrite\nMake the printer online, then hit enter\n");
    EXPECT_EQ(fake::library().openTimeLimits, std::vector<uint32_t> { 5000 });

    fake::reset();
    fake::library().write = [](PortHandle, const void*, uint32_t, uint32_t* written) {
        fake::advance(2500);
        *written = 0;
        return VX_TRUE;
    };
    expectFailed(run(testWrite), "WritePort timed out\n");
}

TEST_F(WriteTests, TooMuchDataOpensWith2000AndTakesItsVerdictFromClosePort)
{
    const char* prompts = "testTooMuchDataForParallelPort\n"
                          "Turn the printer off, then press enter\n"
                          "Make the printer online, then press enter\n";
    for (VX_BOOL closed : { VX_TRUE, 2, VX_FALSE }) {
        fake::reset();
        uint64_t bytes = 0;
        fake::library().write = [&](PortHandle, const void*, uint32_t size, uint32_t* written) {
            *written = size < 4096 ? size : 4096;
            bytes += *written;
            return VX_TRUE;
        };
        fake::library().close = [closed](PortHandle) { return closed; };
        std::string out = run(testTooMuchDataForParallelPort);
        if (closed != VX_FALSE) {
            EXPECT_TRUE(passed);
            EXPECT_EQ(out, prompts);
        } else {
            expectFailed(out, "ClosePort returned VX_FALSE\n");
        }
        EXPECT_EQ(bytes, RASTER_JOB_SIZE);
        EXPECT_EQ(fake::library().openTimeLimits, std::vector<uint32_t> { 2000 });
        EXPECT_EQ(fake::library().openHandles, 0);
    }

    fake::reset();
    fake::library().write = [](PortHandle, const void*, uint32_t, uint32_t*) { return VX_FALSE; };
    expectFailed(run(testTooMuchDataForParallelPort), "WritePort returned VX_FALSE\n");
}

TEST_F(WriteTests, RefusedOpenFailsWithoutClosing)
{
    for (TestProcedure test :
        { testWrite, testWriteOfflineTimeout, testWriteDisconnect, testTooMuchDataForParallelPort }) {
        fake::reset();
        fake::library().open = [](const char*, const char*, uint32_t) -> PortHandle { return nullptr; };
        std::string out = run(test);
        EXPECT_FALSE(passed);
        EXPECT_EQ(out.substr(out.find(") ") + 2), "OpenPortA return NULL\n");
        EXPECT_EQ(fake::count("ClosePort"), 0u);
        EXPECT_EQ(fake::count("WritePort"), 0u);
    }
}

} // namespace
