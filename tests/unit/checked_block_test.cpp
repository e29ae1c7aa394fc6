#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/fake_port.h"
#include "tests/unit/status_script.h"

namespace {

const std::string ONLINE_PROMPT = "Make the printer online, then hit enter\n";
const std::string NOW_LINE = "Make the printer offline (cover open), NOW\n";

class CheckedBlockTests : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        // The payloads live for the whole process, as in devbench.
        if (rasterJob == nullptr) {
            ASSERT_TRUE(preparePayloads());
        }
    }
};

TEST_F(CheckedBlockTests, BeginReportsTheStatusAtEachStepAndIsNeverEnded)
{
    script::follow({ script::online(), script::coverAndPaperOut(VX_OFFSET_PAPER_EMPTY_LEVEL1), script::online() });
    std::vector<std::string> writes;
    fake::library().write = [&](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
        writes.emplace_back(static_cast<const char*>(bytes), size);
        *written = 0;
        return VX_TRUE;
    };
    bool passed = false;
    std::string out = script::run(testBeginCheckedBlock, passed);
    EXPECT_TRUE(passed) << out;
    EXPECT_EQ(out,
        "testBeginCheckedBlock\n" + ONLINE_PROMPT + "Make the printer offline (cover open + no paper), then hit enter\n"
            + ONLINE_PROMPT);
    EXPECT_EQ(fake::count("BeginCheckedBlockEx"), 3u);
    EXPECT_EQ(fake::count("EndCheckedBlockEx"), 0u);
    EXPECT_EQ(writes, std::vector<std::string>({ std::string("\x1B\x4B\x01\x00", 4) }));
    script::expectCleanCalls();
}

TEST_F(CheckedBlockTests, BeginFailsWhenTheRecordDisagreesWithThePrinter)
{
    struct Row {
        script::Script printer;
        const char* failure;
    };
    script::State paperAtOldOffset = script::coverAndPaperOut(VX_OFFSET_PAPER_EMPTY_OLD);
    script::State stillOffline = script::coverAndPaperOut(VX_OFFSET_PAPER_EMPTY_LEVEL1);
    const Row rows[] = {
        { { script::online(), paperAtOldOffset, script::online() }, "status.offline != VX_TRUE\n" },
        { { script::online(), stillOffline, stillOffline }, "offlineStatus != VX_FALSE\n" },
        { { script::online(), script::disconnected() }, "BeginCheckedBlock returned VX_FALSE\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failure);
        fake::reset();
        script::follow(row.printer);
        bool passed = true;
        std::string out = script::run(testBeginCheckedBlock, passed);
        EXPECT_FALSE(passed);
        script::expectFailure(out, row.failure);
    }
}

std::string asciiJob()
{
    std::string job(10000, 'X');
    for (size_t i = 0; i < job.size(); i += 40) job[i] = '\n';
    job.back() = '\n';
    return job;
}

struct Job {
    TestProcedure test;
    const char* name;
    std::string bytes;
};

std::vector<Job> jobs()
{
    return {
        { testEndCheckedBlockRaster, "raster", std::string(reinterpret_cast<const char*>(rasterJob), RASTER_JOB_SIZE) },
        { testEndCheckedBlockAscii, "ascii", asciiJob() },
    };
}

// Both Begins and the first End find the printer online; the last End,
// called while the operator opens the cover, gives `last`.
struct LastEnd {
    VX_BOOL result;
    VX_BOOL offline;
    VX_BOOL coverOpen;
};

struct EndRun {
    std::string out;
    bool passed = false;
    std::vector<std::string> writes;
    size_t answeredAtLastEnd = 0;
    long outputAtLastEnd = -1;
};

EndRun runEnd(TestProcedure test, LastEnd last)
{
    fake::reset();
    script::follow({ script::online() });
    EndRun run;
    int ends = 0;
    fake::library().endBlock = [&](PortHandle, unsigned char* record) {
        if (++ends == 1) return script::report({ script::online() }, record, VX_STATUS_LEVEL1_SIZE);
        run.answeredAtLastEnd = script::promptsAnswered();
        fflush(stdout);
        run.outputAtLastEnd = static_cast<long>(lseek(STDOUT_FILENO, 0, SEEK_CUR));
        fake::setWord(record, VX_OFFSET_OFFLINE, last.offline);
        fake::setWord(record, VX_OFFSET_COVER_OPEN, last.coverOpen);
        return last.result;
    };
    fake::library().write = [&](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
        run.writes.emplace_back(static_cast<const char*>(bytes), size);
        *written = size;
        return VX_TRUE;
    };
    run.out = script::run(test, run.passed);
    return run;
}

TEST_F(CheckedBlockTests, EndSendsTheWholeJobTwiceAndEndsAtOnceAfterTheNowLine)
{
    for (const Job& job : jobs()) {
        SCOPED_TRACE(job.name);
        EndRun run = runEnd(job.test, { VX_FALSE, 0, 0 });
        EXPECT_TRUE(run.passed) << run.out;
        const std::string transcript = "testEndCheckedBlock\n" + ONLINE_PROMPT + ONLINE_PROMPT + NOW_LINE;
        EXPECT_EQ(run.out, transcript);
        // The last End sees the NOW line printed and no answer read after
        // the two prompts.
        EXPECT_EQ(run.outputAtLastEnd, static_cast<long>(transcript.size()));
        EXPECT_EQ(run.answeredAtLastEnd, 2u);
        ASSERT_EQ(run.writes.size(), 2u);
        EXPECT_TRUE(run.writes[0] == job.bytes);
        EXPECT_TRUE(run.writes[1] == job.bytes);
        EXPECT_EQ(fake::count("BeginCheckedBlockEx"), 2u);
        EXPECT_EQ(fake::count("EndCheckedBlockEx"), 2u);
        script::expectCleanCalls();
    }
}

TEST_F(CheckedBlockTests, LastEndAcceptsAnErrorOrAnOpenCover)
{
    struct Row {
        LastEnd last;
        bool passes;
    };
    const Row rows[] = {
        { { VX_FALSE, 0, 0 }, true },
        { { VX_FALSE, 7, 7 }, true },
        { { VX_TRUE, 1, 1 }, true },
        { { 5, 1, 1 }, true },
        { { VX_TRUE, 1, 0 }, false },
        { { VX_TRUE, 0, 1 }, false },
        { { VX_TRUE, 2, 1 }, false },
    };
    for (const Job& job : jobs()) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << job.name << ": End " << row.last.result << ", offline "
                                            << row.last.offline << ", coverOpen " << row.last.coverOpen);
            EndRun run = runEnd(job.test, row.last);
            EXPECT_EQ(run.passed, row.passes) << run.out;
            if (row.passes) {
                EXPECT_EQ(run.out.find("failure"), std::string::npos) << run.out;
                script::expectCleanCalls();
            } else {
                script::expectFailure(run.out, "offlineStatus != VX_TRUE\n");
            }
        }
    }
}

// Only the last End may fail; an error at the first is the library's fault.
TEST_F(CheckedBlockTests, FirstEndMustSucceed)
{
    fake::library().endBlock = [](PortHandle, unsigned char*) { return VX_FALSE; };
    bool passed = true;
    std::string out = script::run(testEndCheckedBlockAscii, passed);
    EXPECT_FALSE(passed);
    script::expectFailure(out, "EndCheckedBlock returned VX_FALSE\n");
}

TEST_F(CheckedBlockTests, AsciiJobIsLinesOfThirtyNineXEndedByALineFeed)
{
    EndRun run = runEnd(testEndCheckedBlockAscii, { VX_FALSE, 0, 0 });
    ASSERT_FALSE(run.writes.empty());
    const std::string& job = run.writes[0];
    ASSERT_EQ(job.size(), 10000u);
    EXPECT_EQ(job[0], '\x0A');
    EXPECT_EQ(job[1], 'X');
    EXPECT_EQ(job[40], '\x0A');
    EXPECT_EQ(job[9960], '\x0A');
    EXPECT_EQ(job[9998], 'X');
    EXPECT_EQ(job[9999], '\x0A');
    EXPECT_EQ(std::count(job.begin(), job.end(), '\x0A'), 251);
}

} // namespace
