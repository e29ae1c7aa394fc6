#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>

#include "operator/record/junit.h"
#include "operator/record/library_identity.h"
#include "operator/record/records.h"
#include "operator/record/verdict.h"
#include "operator/run/paper_check.h"

namespace {

using namespace vpop;

TestRecord test(unsigned number, bool banner, bool finished, std::vector<std::string> failures = {})
{
    TestRecord record;
    record.number = number;
    record.bannerSeen = banner;
    record.finished = finished;
    record.failures = std::move(failures);
    return record;
}

RunRecord runOf(std::vector<TestRecord> tests, std::string brokeOff = "")
{
    RunOutcome outcome;
    outcome.records = std::move(tests);
    outcome.broken = std::move(brokeOff);
    RunRecord record;
    addRun(record, outcome, {});
    return record;
}

// A failure line counts whatever else happened; a test that started and did
// not end in order never passes.
TEST(Verdicts, OfEachTestAndOfTheRun)
{
    EXPECT_EQ(testVerdict(test(0, true, false, { "failure: line(1) x" })), Verdict::Fail);
    EXPECT_EQ(testVerdict(test(0, false, false)), Verdict::NotRun);
    TestRecord finding = test(3, true, true);
    finding.findings = { "operator: paper digest differs: job 1" };
    EXPECT_EQ(testVerdict(finding), Verdict::Fail);

    EXPECT_EQ(runVerdict(runOf({ test(0, true, true) })).verdict, Verdict::Pass);
    EXPECT_EQ(runVerdict(runOf({ test(0, true, true), test(1, false, false) })).verdict, Verdict::Fail);
    EXPECT_EQ(runVerdict(runOf({ test(0, true, false) })).verdict, Verdict::BrokeOff);
    RunVerdict exited = runVerdict(runOf({ test(0, true, true) }, "devbench exited with status 3"));
    EXPECT_EQ(exited.verdict, Verdict::BrokeOff);
    EXPECT_EQ(exited.why, "devbench exited with status 3");
    EXPECT_EQ(exitStatus(exited), 1);
    EXPECT_EQ(runVerdict(runOf({})).verdict, Verdict::Fail);
}

// The expected test of a caught fault fails, as it should; the matrix passes
// only when the healthy run passed and every fault was caught.
TEST(Verdicts, OfTheFaultMatrix)
{
    RunRecord matrix = runOf({ test(10, true, true) });
    matrix.matrix = true;
    RecordedTest caught;
    caught.result = test(10, true, true, { "failure: line(57) onlineStatus != VX_TRUE" });
    caught.fault = "online-flag-2";
    matrix.tests.push_back(caught);
    matrix.faults = { { "online-flag-2", 10, true, "" } };
    EXPECT_EQ(runVerdict(matrix).verdict, Verdict::Pass);
    matrix.faults.push_back({ "chunk:4", 6, false, "test 6 pass" });
    EXPECT_EQ(runVerdict(matrix).verdict, Verdict::Fail);
    matrix.faults.pop_back();
    matrix.tests[0].result.failures = { "failure: line(1) healthy" };
    EXPECT_EQ(runVerdict(matrix).verdict, Verdict::Fail);
}

// A planned test that devbench skipped fails the run without breaking it
// off; its testcase is only skipped, so the run itself must carry a failure.
TEST(Verdicts, JUnitIsNeverGreenForARunThatDidNotPass)
{
    RunRecord skipped = runOf({ test(0, true, true), test(1, false, false) });
    std::string report = junitReport(skipped);
    EXPECT_NE(report.find("<skipped message=\"not run: devbench did not start it\"/>"), std::string::npos);
    EXPECT_NE(
        report.find("<failure message=\"test 1 Test Bad Port Name not run\" type=\"run failed\"/>"), std::string::npos)
        << report;
    EXPECT_EQ(junitReport(runOf({ test(0, true, true) })).find("devbench run"), std::string::npos);
}

TEST(Paper, AMissingJobAndAJobTooManyAreFindings)
{
    const SentJob& query = sentJobs(6)->front();
    EXPECT_EQ(comparePaper(6, { { 1, query.size, query.sha256 } }), std::vector<std::string> {});
    std::vector<std::string> missing = comparePaper(6, {});
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].find("operator: paper digest differs: no job on the paper for the firmware query"), 0u);
    std::vector<std::string> extra = comparePaper(6, { { 1, query.size, query.sha256 }, { 2, 1, query.sha256 } });
    ASSERT_EQ(extra.size(), 1u);
    EXPECT_NE(extra[0].find("job 2 (1 bytes"), std::string::npos);
    EXPECT_NE(extra[0].find("is more than the test sent"), std::string::npos);

    // A test that failed stopped sending partway; its failure line says so.
    TestRecord failed = test(6, true, true, { "failure: line(93) ReadPort timed out" });
    judgePaper(failed, std::vector<PaperJob> {}, "");
    EXPECT_TRUE(failed.findings.empty());
    EXPECT_FALSE(failed.paperChecked);
}

// The record names the library file that ran, never one put in its place:
// replaced before it was read, it is not hashed; rewritten after, it is
// said so beside the hash of the one read.
TEST(Library, AFileReplacedOrRewrittenIsSaidSo)
{
    std::string path = testing::TempDir() + "vpop-libKelmorPort.so";
    std::ofstream(path) << "loaded";
    FileIdentity loaded;
    ASSERT_TRUE(fileIdentity(path, &loaded));
    std::string other = path + ".new";
    std::ofstream(other) << "rebuilt";
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    LibraryFile replaced = inspectLibrary(path, &loaded);
    EXPECT_TRUE(replaced.replacedDuringRun);
    EXPECT_FALSE(replaced.read);

    FileIdentity read;
    LibraryFile library = inspectLibrary(path, nullptr, &read);
    ASSERT_TRUE(library.read);
    recheckLibrary(library, read);
    EXPECT_FALSE(library.replacedDuringRun) << library.replacedNote;
    std::ofstream(path, std::ios::app) << " and patched";
    recheckLibrary(library, read);
    EXPECT_TRUE(library.replacedDuringRun);
    EXPECT_EQ(library.size, 7u);
    remove(path.c_str());
}

} // namespace
