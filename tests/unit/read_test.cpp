#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cases/cases.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

struct ReadStep {
    VX_BOOL result;
    std::string bytes;
};

const std::string REPLY("\x1B\x23\x2A\x2C"
                        "AB\x0A",
    8); // the NUL ends it
const std::string REPLY_DUMP = "1b\n23\n2a\n2c\n41\nA42\nBa\n0\n";
const char READ_HEAD[] = "testRead\nMake the printer online, then hit enter\ndevice firmware name: ";

class ReadTests : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    // Reads follow the script; after it nothing more arrives, and each empty
    // read takes a millisecond of the virtual clock.
    void script(const std::vector<ReadStep>& steps)
    {
        reads = steps;
        queries.clear();
        fake::library().read = [this](PortHandle, void* buffer, uint32_t size, uint32_t* got) {
            EXPECT_EQ(size, 100u);
            size_t call = fake::count("ReadPort") - 1;
            if (call >= reads.size()) {
                fake::advance(1);
                *got = 0;
                return VX_TRUE;
            }
            memcpy(buffer, reads[call].bytes.data(), reads[call].bytes.size());
            *got = static_cast<uint32_t>(reads[call].bytes.size());
            return reads[call].result;
        };
        fake::library().write = [this](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
            queries.push_back(std::string(static_cast<const char*>(bytes), size));
            *written = size;
            return VX_TRUE;
        };
    }

    std::string run(bool (*test)(const char*, const char*))
    {
        return fake::runConsole("\n\n\n", [&] { passed = test("COM2", "s"); });
    }

    void expectFailedAfterClose(const std::string& out, const std::string& text)
    {
        EXPECT_FALSE(passed);
        fake::expectFailureAfterClose(out, text);
    }

    std::vector<ReadStep> reads;
    std::vector<std::string> queries;
    bool passed = false;
};

TEST_F(ReadTests, ReplySplitAtEveryByteBoundaryPasses)
{
    for (size_t split = 0; split <= REPLY.size(); ++split) {
        SCOPED_TRACE(split);
        fake::reset();
        // Bytes after the closing NUL are neither printed nor parsed.
        script({ { VX_TRUE, REPLY.substr(0, split) }, { VX_TRUE, REPLY.substr(split) + "zz" } });
        std::string out = run(testRead);
        EXPECT_TRUE(passed);
        EXPECT_EQ(out, READ_HEAD + REPLY_DUMP + "\n");
        EXPECT_EQ(fake::library().closeOutputOffsets, std::vector<long> { static_cast<long>(out.size()) });
        EXPECT_EQ(queries, std::vector<std::string> { std::string("\x1B\x23\x2A\x0A\x00", 5) });
    }
}

TEST_F(ReadTests, StrayLeadingByteCostsOneMismatch)
{
    script({ { VX_TRUE, "\xFF" + REPLY } });
    std::string out = run(testRead);
    EXPECT_TRUE(passed);
    EXPECT_EQ(out, READ_HEAD + ("ff\n" + REPLY_DUMP) + "\n");
}

TEST_F(ReadTests, StrayEscapeSpoilsThatReplyButReadingGoesOn)
{
    script({ { VX_TRUE, "\x1B" + REPLY }, { VX_TRUE, REPLY } });
    std::string out = run(testRead);
    EXPECT_TRUE(passed);
    // Every byte of the spoilt reply mismatches, so its name is not echoed.
    EXPECT_EQ(out, READ_HEAD + ("1b\n1b\n23\n2a\n2c\n41\n42\na\n0\n" + REPLY_DUMP) + "\n");
}

TEST_F(ReadTests, MismatchLimitIsCheckedBeforeEachReadAndPrintedBeforeTheClose)
{
    script({ { VX_TRUE, std::string(49, 'A') }, { VX_TRUE, std::string(100, 'A') }, { VX_TRUE, REPLY } });
    std::string out = run(testRead);
    EXPECT_FALSE(passed);
    std::string dump;
    for (int i = 0; i < 149; ++i) dump += "41\n";
    std::string line = "ReadPort did not produce the expected response - wrongCount = 149\n\n";
    ASSERT_GT(out.size(), line.size());
    EXPECT_EQ(out.substr(0, out.find("failure: line(")), READ_HEAD + dump);
    EXPECT_EQ(out.substr(out.size() - line.size()), line);
    EXPECT_EQ(fake::count("ReadPort"), 2u);
    EXPECT_EQ(fake::library().closeOutputOffsets, std::vector<long> { static_cast<long>(out.size()) });

    // The limit is 50 exactly: no read after the 50th mismatch.
    fake::reset();
    script({ { VX_TRUE, std::string(50, 'A') }, { VX_TRUE, REPLY } });
    out = run(testRead);
    EXPECT_NE(out.find(") ReadPort did not produce the expected response - wrongCount = 50\n"), std::string::npos);
}

TEST_F(ReadTests, SilenceEndsTheTestButSlowBytesDoNot)
{
    script({ { VX_TRUE,
        "\x1B\x23\x2A\x2C"
        "AB" } });
    std::string out = run(testRead);
    expectFailedAfterClose(out, "ReadPort timed out\n");
    EXPECT_GE(fake::now() - 1000, 5000u);
    EXPECT_LT(fake::now() - 1000, 5010u);

    // Two bytes every 4.9 s: never 5 s without a byte, all within 20 s.
    fake::reset();
    script({});
    size_t next = 0;
    fake::library().read = [&](PortHandle, void* buffer, uint32_t, uint32_t* got) {
        fake::advance(100);
        *got = 0;
        if ((fake::now() - 1000) % 4900 == 0) {
            memcpy(buffer, REPLY.data() + next, 2);
            next += 2;
            *got = 2;
        }
        return VX_TRUE;
    };
    EXPECT_EQ(run(testRead), READ_HEAD + REPLY_DUMP + "\n");
    EXPECT_TRUE(passed);
}

// A name that never ends, streamed or one character a second, ends the test
// by its length or by the time since the query, with little on the console.
TEST_F(ReadTests, EndlessNameEndsTheTest)
{
    const struct {
        uint32_t msPerRead;
        uint32_t charsPerRead;
        const char* text;
        uint32_t elapsed;
    } cases[] = {
        { 0, 100, "ReadPort returned a firmware name of more than 1000 characters\n", 0 },
        { 1000, 1, "ReadPort did not complete the reply within 20 s of the query\n", 20000 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake::reset();
        fake::library().read = [&](PortHandle, void* buffer, uint32_t, uint32_t* got) {
            if (fake::count("ReadPort") == 1) {
                memcpy(buffer, "\x1B\x23\x2A\x2C", 4);
                *got = 4;
                return VX_TRUE;
            }
            fake::advance(c.msPerRead);
            memset(buffer, 'N', c.charsPerRead);
            *got = c.charsPerRead;
            return VX_TRUE;
        };
        std::string out = run(testRead);
        expectFailedAfterClose(out, c.text);
        EXPECT_EQ(fake::now() - 1000, c.elapsed);
        EXPECT_LT(out.size(), 5000u);
    }
}

TEST_F(ReadTests, ReadFailures)
{
    const struct {
        std::vector<ReadStep> reads;
        uint32_t queryCount;
        const char* text;
    } cases[] = {
        { {}, 4, "Size Communicated was not equal to 5\n" },
        { {}, 6, "Size Communicated was not equal to 5\n" },
        { { { VX_TRUE, "\x1B" }, { VX_FALSE, "" } }, 5, "ReadPort returned VX_FALSE\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake::reset();
        script(c.reads);
        uint32_t count = c.queryCount;
        fake::library().write = [count](PortHandle, const void*, uint32_t, uint32_t* written) {
            *written = count;
            return VX_TRUE;
        };
        expectFailedAfterClose(run(testRead), c.text);
    }
}

TEST_F(ReadTests, CountAboveTheBufferIsALibraryFault)
{
    for (auto test : { testRead, testReadDisconnect }) {
        fake::reset();
        script({});
        fake::library().read = [](PortHandle, void*, uint32_t size, uint32_t* got) {
            *got = size + 1;
            return VX_TRUE;
        };
        expectFailedAfterClose(run(test), "ReadPort reported more bytes than it was asked for\n");
    }
}

const char DISCONNECT_PROMPTS[] = "testReadDisconnect\n"
                                  "Make the printer online and hit enter\n"
                                  "Disconnect the printer and hit enter\n"
                                  "Connect the printer and hit enter\n";

TEST_F(ReadTests, DisconnectPassesWithTheQuerySentAgainOnTheSameHandle)
{
    for (ReadStep duringDisconnect : { ReadStep { VX_FALSE, "" }, ReadStep { VX_TRUE, "" } }) {
        fake::reset();
        script({ { VX_TRUE, "\x1B" }, duringDisconnect, { VX_TRUE, REPLY } });
        EXPECT_EQ(run(testReadDisconnect), DISCONNECT_PROMPTS);
        EXPECT_TRUE(passed);
        EXPECT_EQ(queries.size(), 2u);
        EXPECT_EQ(fake::slept(), 1500u);
        EXPECT_EQ(fake::count("OpenPortA"), 1u);
        EXPECT_EQ(fake::library().openHandles, 0);
    }
}

TEST_F(ReadTests, DisconnectShareTwoEmptyReadsAcrossBothPhases)
{
    const ReadStep empty { VX_TRUE, "" };
    const ReadStep data { VX_TRUE, "x" };
    const ReadStep gone { VX_FALSE, "" };
    const ReadStep full { VX_TRUE, std::string(100, 'x') };
    const struct {
        std::vector<ReadStep> reads;
        const char* text; // null: passes
    } cases[] = {
        { { empty, data, gone, empty, data }, nullptr },
        { { full, gone, full }, nullptr },
        { { empty, empty, data, gone, data }, nullptr },
        { { empty, empty, data, gone, empty }, "ReadPort timed out\n" },
        { { empty, empty, empty }, "ReadPort timed out\n" },
        { { data, gone, empty, empty, empty }, "ReadPort timed out\n" },
        { { data, { VX_TRUE, "abc" } }, "ReadPort did not fail as expected\n" },
        { { empty, gone }, "ReadPort returned VX_FALSE\n" },
        { { data, gone, empty, gone }, "ReadPort returned VX_FALSE\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reads.size());
        fake::reset();
        script(c.reads);
        std::string out = run(testReadDisconnect);
        if (c.text == nullptr) {
            EXPECT_TRUE(passed);
            EXPECT_EQ(out, DISCONNECT_PROMPTS);
        } else {
            expectFailedAfterClose(out, c.text);
        }
        EXPECT_EQ(fake::count("ReadPort"), c.reads.size());
    }
}

} // namespace
