// The sign-off report's logic, without a browser: the grid and its marks,
// partial runs, the fault matrix and what a page must say.
#include <gtest/gtest.h>

#include "operator/record/json_record.h"
#include "operator/record/junit.h"
#include "operator/report/content.h"
#include "operator/report/html.h"
#include "operator/report/markdown.h"

namespace {

using namespace vpop;
using namespace vpop::signoff;

RecordedTest ran(unsigned number, std::vector<std::string> failures = {})
{
    RecordedTest test;
    test.result.number = number;
    test.result.bannerSeen = true;
    test.result.finished = true;
    test.result.failures = std::move(failures);
    return test;
}

ReadRun run(const std::string& started, std::vector<RecordedTest> tests, const std::string& sha = "a")
{
    ReadRun read;
    read.file = started + ".json";
    read.record.started = started;
    read.record.finished = started;
    read.record.library = LibraryFile { "/lib/libKelmorPort.so", true, 1, sha, "", false, "", "" };
    read.record.tests = std::move(tests);
    return read;
}

const char OLD[] = "2026-12-08T02:00:00Z";
const char NEW[] = "2026-12-09T02:00:00Z";

std::vector<Change> changes(const Grid& grid, size_t row)
{
    std::vector<Change> out;
    for (const Cell& cell : grid.rows[row].cells) out.push_back(cell.change);
    return out;
}

// Runs are compared in the order they ran, whatever order they were given:
// a run given first but made later is still the later one.
TEST(Comparison, OrdersRunsByTheirStart)
{
    std::vector<ReadRun> runs = { run(NEW, { ran(3, { "failure: line(1) x" }), ran(4) }),
        run(OLD, { ran(3), ran(4, { "failure: line(2) y" }) }) };
    Grid grid = compareRuns(runs);
    ASSERT_EQ(grid.columns.size(), 2u);
    EXPECT_EQ(grid.columns[0]->record.started, OLD);
    EXPECT_EQ(std::make_pair(grid.regressions, grid.fixes), std::make_pair(1u, 1u));
    EXPECT_EQ(changes(grid, 0), (std::vector<Change> { Change::none, Change::regression }));
    EXPECT_EQ(changes(grid, 1), (std::vector<Change> { Change::none, Change::fix }));
    EXPECT_EQ(grid.groups.size(), 1u);
    std::swap(runs[0], runs[1]);
    Grid swapped = compareRuns(runs);
    EXPECT_EQ(std::make_pair(swapped.regressions, swapped.fixes), std::make_pair(1u, 1u));
}

// A test failing in both runs for another reason is marked, apart from the
// regressions; a not-run cell is neither compared nor compared against.
TEST(Comparison, MarksAnotherFailureAndSkipsTestsNotRun)
{
    RecordedTest notRun;
    notRun.result.number = 3;
    std::vector<ReadRun> runs = { run(OLD, { ran(3, { "failure: line(1) x" }) }), run(NEW, { notRun }),
        run("2026-12-10T02:00:00Z", { ran(3, { "failure: line(9) z" }) }) };
    Grid grid = compareRuns(runs);
    EXPECT_EQ(changes(grid, 0), (std::vector<Change> { Change::none, Change::none, Change::otherFailure }));
    EXPECT_EQ(grid.otherFailures, 1u);
    EXPECT_EQ(grid.regressions + grid.fixes, 0u);
    runs[2].record.tests[0].result.failures = { "failure: line(1) x" };
    EXPECT_EQ(compareRuns(runs).otherFailures, 0u);
}

TEST(Comparison, EveryRunAgainstTheBaseline)
{
    ReadRun baseline = run("2026-12-20T00:00:00Z", { ran(3) }, "base");
    std::vector<ReadRun> runs
        = { run(OLD, { ran(3, { "failure: line(1) x" }) }), run(NEW, { ran(3, { "failure: line(1) x" }) }) };
    Grid grid = compareRuns(runs, &baseline);
    ASSERT_TRUE(grid.baseline);
    EXPECT_EQ(grid.columns[0], &baseline);
    EXPECT_EQ(changes(grid, 0), (std::vector<Change> { Change::none, Change::regression, Change::regression }));
    EXPECT_EQ(grid.groups.size(), 2u);
    EXPECT_NE(htmlComparison(runs, &baseline).find("<strong>baseline</strong>"), std::string::npos);
}

// A matrix's caught fault is its expected test failing as it should; the
// same test passing in a later matrix is a lost catch.
RunRecord matrix(bool caught)
{
    RunRecord record;
    record.started = OLD;
    record.finished = OLD;
    record.matrix = true;
    record.tests = { ran(10) };
    RecordedTest faulty = ran(10,
        caught ? std::vector<std::string> { "failure: line(57) onlineStatus != VX_TRUE" }
               : std::vector<std::string> {});
    faulty.fault = "online-flag-2";
    faulty.expectedFailure = "onlineStatus != VX_TRUE";
    faulty.expectedSeen = caught;
    RecordedTest neighbour = ran(11);
    neighbour.fault = "online-flag-2";
    record.tests.push_back(faulty);
    record.tests.push_back(neighbour);
    record.faults = { { "online-flag-2", 10, caught, caught ? "" : "test 10 pass" } };
    return record;
}

TEST(Matrix, ReadsAsTheMatrixJudgedIt)
{
    ReadRun good { "good.json", matrix(true) };
    ReadRun lost { "lost.json", matrix(false) };
    lost.record.started = NEW;
    EXPECT_EQ(judgedVerdict(good.record.tests[1]), Verdict::Pass);
    EXPECT_EQ(judgedVerdict(lost.record.tests[1]), Verdict::Fail);
    Grid grid = compareRuns({ lost, good });
    EXPECT_EQ(std::make_pair(grid.regressions, grid.fixes), std::make_pair(1u, 0u));
    EXPECT_EQ(grid.rows[1].profile, " (fault online-flag-2)");
    EXPECT_EQ(changes(grid, 1), (std::vector<Change> { Change::none, Change::regression }));

    std::string passing = htmlReport(good);
    EXPECT_EQ(passing.find("What failed"), std::string::npos) << "a caught fault is shown as a failure";
    EXPECT_NE(passing.find("caught: onlineStatus != VX_TRUE"), std::string::npos);
    std::string failing = htmlReport(lost);
    size_t failed = failing.find("What failed");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_NE(failing.find("10 Test Get Online Status (fault online-flag-2)", failed), std::string::npos);
    EXPECT_NE(failing.find("not caught: no onlineStatus != VX_TRUE"), std::string::npos);
    EXPECT_NE(countsText(lost.record).find("0 of 1 faults caught"), std::string::npos);
    EXPECT_NE(markdownReport(lost).find("**fail**"), std::string::npos);
    // CI shows the matrix green exactly when every fault was caught.
    EXPECT_EQ(junitReport(good.record).find("<failure"), std::string::npos) << junitReport(good.record);
    EXPECT_NE(junitReport(lost.record).find("type=\"not caught\""), std::string::npos);
}

// A control passes every test; any failure under it is the suite's false
// failure, which fails the matrix and reads as such in JUnit and the counts.
TEST(Matrix, AControlsFailureIsTheSuites)
{
    RunRecord record = matrix(true);
    for (unsigned number : { 10u, 11u }) {
        record.tests.push_back(ran(number));
        record.tests.back().variation = "online-unknown";
    }
    record.variations = { { "online-unknown", "flag -1 unplugged", "\"may instead succeed\"", false, "", 1 } };
    deriveJudgements(record);
    EXPECT_TRUE(record.variations[0].passed);
    EXPECT_EQ(runVerdict(record).verdict, Verdict::Pass) << runVerdict(record).why;
    EXPECT_NE(countsText(record).find("1 of 1 controls passed"), std::string::npos);
    EXPECT_NE(markdownReport({ "m.json", record }).find("| online-unknown | flag -1 unplugged |"), std::string::npos);

    RunRecord falseFailure = record;
    falseFailure.tests.back().result.failures = { "failure: line(50) GetOnlineStatus did not fail as expected" };
    deriveJudgements(falseFailure);
    EXPECT_FALSE(falseFailure.variations[0].passed);
    EXPECT_NE(runVerdict(falseFailure)
                  .why.find("a false failure: under the healthy variation online-unknown, test "
                            "11 Test Get Online Status Disconnect fail"),
        std::string::npos);
    EXPECT_NE(junitReport(falseFailure).find("type=\"false failure\""), std::string::npos);
    EXPECT_NE(countsText(falseFailure).find("0 of 1 controls passed"), std::string::npos);
}

TEST(PartialRun, SaysHowManyOfTheSuiteRan)
{
    RecordedTest twice = ran(1);
    RecordedTest notRun;
    notRun.result.number = 2;
    ReadRun partial = run(OLD, { ran(0), ran(1), twice, notRun });
    EXPECT_EQ(runVerdict(partial.record).verdict, Verdict::Fail);
    partial.record.tests.pop_back();
    EXPECT_EQ(runVerdict(partial.record).verdict, Verdict::Pass);
    EXPECT_EQ(partialText(partial.record), " (partial: 2 of the 21 tests ran)");
    EXPECT_EQ(
        countsText(partial.record), "3 passed, 0 failed, 0 broke off, 0 not run; 19 of the suite's tests never ran");
    EXPECT_NE(htmlReport(partial).find("<span class=\"mark partial\">partial: 2 of 21</span>"), std::string::npos);
    EXPECT_NE(
        markdownReport(partial).find("## devbench sign-off: pass (partial: 2 of the 21 tests ran)"), std::string::npos);
    for (unsigned number = 2; number < 21; ++number) partial.record.tests.push_back(ran(number));
    EXPECT_EQ(partialText(partial.record), "");
    partial.record.matrix = true;
    EXPECT_FALSE(coverage(partial.record).partial);
}

TEST(Texts, TimesThroughTheCalendar)
{
    ReadRun timed = run("2024-02-28T23:59:59Z", {});
    timed.record.finished = "2024-02-29T01:01:00Z";
    EXPECT_EQ(durationText(timed.record), "1 h 1 min");
    timed.record.finished = "2024-02-29T00:01:00Z";
    EXPECT_EQ(durationText(timed.record), "1 min 1 s");
    timed.record.finished = "2024-02-29T00:00:59Z";
    EXPECT_EQ(durationText(timed.record), "1 min 0 s");
    timed.record.finished = "2024-02-29T00:00:58Z";
    EXPECT_EQ(durationText(timed.record), "59 s");
    timed.record.finished = "2024-02-28T23:59:58Z";
    EXPECT_EQ(durationText(timed.record), "unknown");
    EXPECT_EQ(startText("2026-12-08T02:06:45Z"), "2026-12-08 02:06:45 UTC");
    EXPECT_EQ(sizeText(1234), "1,234 bytes");
    EXPECT_EQ(sizeText(888736), "888,736 bytes");
    EXPECT_EQ(sizeText(999), "999 bytes");
    EXPECT_EQ(startText(""), "unknown");
    EXPECT_FALSE(recordMoment("2026-02-29T00:00:00Z"));
    EXPECT_FALSE(recordMoment("2026-12-08T02:06:45Z "));
    EXPECT_FALSE(recordMoment("2026-12-08 02:06:45Z"));
    EXPECT_EQ(recordMoment("1970-01-02T00:00:01Z")->time_since_epoch().count(), 86401);
    // Far past what a clock in nanoseconds holds.
    EXPECT_EQ(durationText(run("4649-12-08T13:36:29Z", {}).record), "0 s");
}

// The library's own words stand beside its failure; a library replaced
// under the run is said so plainly, in both forms and in JUnit.
TEST(Page, ShowsStandardErrorAndAReplacedLibrary)
{
    ReadRun read = run(OLD, { ran(3, { "failure: line(5) WritePort returned VX_FALSE" }) });
    read.record.tests[0].result.stderrText = "KelmorPort: baud=96000 is no rate\n";
    read.record.bench = "lab.3";
    EXPECT_EQ(htmlReport(read).find("<dt>replaced</dt>"), std::string::npos);
    read.record.library->replacedDuringRun = true;
    read.record.library->replacedNote = "its inode changed";
    std::string page = htmlReport(read);
    EXPECT_NE(page.find("<dt>replaced</dt>"), std::string::npos);
    size_t failed = page.find("What failed");
    size_t stderrShown = page.find("<pre class=\"stderr\">KelmorPort: baud=96000 is no rate");
    ASSERT_NE(stderrShown, std::string::npos);
    EXPECT_LT(failed, stderrShown);
    EXPECT_NE(page.find("the file was replaced during the run: its inode changed"), std::string::npos);
    std::string markdown = markdownReport(read);
    EXPECT_NE(markdown.find("Standard error:\n\n```text\nKelmorPort: baud=96000 is no rate\n"), std::string::npos);
    EXPECT_NE(markdown.find("**the file was replaced during the run: its inode changed**"), std::string::npos);
    std::string junit = junitReport(read.record);
    EXPECT_NE(junit.find("<testsuite name=\"devbench.lab_3\""), std::string::npos);
    EXPECT_NE(junit.find("classname=\"devbench.lab_3\""), std::string::npos);
    EXPECT_NE(junit.find("<system-err>KelmorPort: baud=96000 is no rate\n</system-err>"), std::string::npos);
    EXPECT_NE(junit.find("name=\"library_replaced_during_run\" value=\"its inode changed\""), std::string::npos);
    EXPECT_EQ(junit.find("broke_off"), std::string::npos);
}

// A comparison keeps each run's verdicts and first reasons only.
TEST(Comparison, KeepsLittleOfEachRun)
{
    RunRecord record = run(OLD, { ran(3, { std::string(4096, 'x'), "second" }) }).record;
    record.tests[0].result.console = std::string(1 << 20, 'c');
    record.tests[0].result.paper = std::vector<PaperJob> { { 1, 2, "s" } };
    keepForComparison(&record);
    const TestRecord& kept = record.tests[0].result;
    EXPECT_EQ(kept.failures.size(), 1u);
    EXPECT_LE(kept.failures[0].size(), 512u);
    EXPECT_TRUE(kept.console.capacity() < 64 && !kept.paper);
    EXPECT_EQ(testVerdict(kept), Verdict::Fail);
}

} // namespace

namespace {

ReadRun benchRun(const std::string& bench, unsigned day, bool passes, const std::string& sha = "a")
{
    std::string started = "2026-12-" + std::to_string(10 + day) + "T02:00:00Z";
    ReadRun read = run(started, { passes ? ran(3) : ran(3, { "failure: line(1) x" }) }, sha);
    read.record.bench = bench;
    return read;
}

} // namespace

// Another bench's run is never a fix; a verdict that passes and fails in
// turn under one build is flaky, not regressed; past the limit each bench
// shows its last runs; CI's questions are asked of the same grid.
TEST(Comparison, WithinEachBenchInTimeOrder)
{
    std::vector<ReadRun> runs
        = { benchRun("b", 1, true), benchRun("a", 0, false), benchRun("a", 2, true, "new"), benchRun("b", 3, false) };
    Grid grid = compareRuns(runs);
    EXPECT_EQ(grid.columns[0]->record.bench, "a");
    EXPECT_EQ(changes(grid, 0), (std::vector<Change> { Change::none, Change::fix, Change::none, Change::regression }));
    EXPECT_TRUE(anyRegression(grid));
    EXPECT_TRUE(lastRunFailed(grid));
    ASSERT_EQ(grid.benches.size(), 2u);
    EXPECT_EQ(std::make_tuple(grid.benches[1].runs, grid.benches[1].passed, grid.benches[1].regressions),
        std::make_tuple(2u, 1u, 1u));

    std::vector<ReadRun> unsteady;
    for (unsigned day = 0; day < 14; ++day) unsteady.push_back(benchRun("a", day, day % 3 != 1));
    Grid flaky = compareRuns(unsteady);
    EXPECT_EQ(flaky.regressions + flaky.fixes, 0u);
    EXPECT_EQ(flaky.flaky, 9u);
    EXPECT_FALSE(anyRegression(flaky));
    EXPECT_EQ(flaky.shown, (std::vector<size_t> { 9, 10, 11, 12, 13 }));
}
