// What the sign-off report says, whatever it is written as (a page or
// Markdown): each run as the operator's own verdict functions judge it, the
// comparison of runs, the paper's jobs against what each test sent, and the
// few phrases both forms share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/record/records.h"
#include "operator/record/verdict.h"

namespace vpop::signoff {

// A record as the report has it: the file it was read from, as given.
struct ReadRun {
    std::string file;
    RunRecord record;
};

// What a comparison keeps of a run: its verdicts and first reasons, not its
// consoles, so a thousand records compare in little memory.
void keepForComparison(RunRecord* record);

// A flaky cell changed from or to a pass while its verdict went back and
// forth under one library build on its bench: no regression or fix of the
// library.
enum class Change { none, regression, fix, otherFailure, flaky };

struct Cell {
    // Null when the run has no such test.
    const RecordedTest* test = nullptr;
    // Against the run before it (in time) that ran the test, or the baseline.
    Change change = Change::none;
};

struct GridRow {
    Suite suite = Suite::Devbench;
    unsigned number = 0;
    // What the matrix ran it under, as profileText says it.
    std::string profile;
    std::vector<Cell> cells;
};

// Neighbouring runs of one library file (one SHA-256), under one heading.
struct LibraryGroup {
    std::optional<LibraryFile> library;
    std::vector<size_t> columns;
};

// One bench's runs at a glance: how many ended each way, what changed, and
// its last runs (columns of the grid, oldest first).
struct BenchSummary {
    std::string bench;
    unsigned runs = 0;
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned brokeOff = 0;
    unsigned regressions = 0;
    unsigned fixes = 0;
    unsigned flaky = 0;
    std::vector<size_t> lastRuns;
};

// Past this many runs a report shows each bench's last runs only, beside
// the summary of all of them.
inline constexpr size_t SHOWN_RUNS = 12;
inline constexpr size_t LAST_RUNS_PER_BENCH = 5;

struct Grid {
    // The runs in the order shown: the baseline first when there is one,
    // then bench by bench, each by start time; runs that started together
    // in the order given. A run is compared within its bench only: another
    // bench's run is never its regression or fix.
    std::vector<const ReadRun*> columns;
    bool baseline = false;
    std::vector<LibraryGroup> groups;
    std::vector<GridRow> rows;
    unsigned regressions = 0;
    unsigned fixes = 0;
    unsigned otherFailures = 0;
    unsigned flaky = 0;
    std::vector<BenchSummary> benches;
    // The columns a report shows: all of them, or past SHOWN_RUNS each
    // bench's last LAST_RUNS_PER_BENCH (and the baseline).
    std::vector<size_t> shown;
};

// With a baseline, every run is compared with it; without, each with the
// run before it.
Grid compareRuns(const std::vector<ReadRun>& runs, const ReadRun* baseline = nullptr);

// What `report --fail-on` asks: any regression, or a bench whose last run
// did not pass.
bool anyRegression(const Grid& grid);
// "1 regression, 2 fixes, 0 other failures, 1 flaky": the page's and
// Markdown's one sentence of what changed.
std::string changeCounts(const Grid& grid);
bool lastRunFailed(const Grid& grid);

// One job the printer took, against the job the test sent in its place.
struct JobCheck {
    // Null for a job the test never sent (or one it sent that never came).
    const PaperJob* job = nullptr;
    std::string expected;
    // "matches", "differs", "not sent", "missing" or "not checked".
    std::string outcome;
};
std::vector<JobCheck> checkJobs(const RecordedTest& test);

// " (partial: 7 of the 21 tests ran)" after the verdict of a run that ran
// part of the suite; empty for any other.
std::string partialText(const RunRecord& record);
// "7 passed, 0 failed, 0 broke off, 0 not run, 14 never planned".
std::string countsText(const RunRecord& record);
// "12 Test Get Parsed Status (fault stall-status:300)".
std::string testTitle(const RecordedTest& test);
// For a matrix test that was to catch its fault: "caught: ..." or "not
// caught: ..."; empty for any other test.
std::string expectationText(const RecordedTest& test);
// A matrix's controls: "read-limit:1: passed" ... each with what it does and
// the contract's words that allow it, for a page or Markdown to lay out.
struct ControlRow {
    std::string variation;
    bool passed = false;
    std::string outcome;
    std::string what;
    std::string allowedBy;
    std::string note;
};
std::vector<ControlRow> controlRows(const RunRecord& record);
// What the record says of a library file devbench did not keep to the end,
// or that the operator cannot tell is the one whose code ran; empty for one
// known to the end.
std::string replacedText(const LibraryFile& library);

// "2026-12-08 02:06:45 UTC" of "2026-12-08T02:06:45Z"; "unknown" for none.
std::string startText(const std::string& started);
// "4 s", "12 min 5 s" or "2 h 3 min"; "unknown" without a start and an end.
std::string durationText(const RunRecord& run);
// "0.012 s", or "" for a test that never ran.
std::string secondsText(const RecordedTest& test);
// "888,736 bytes".
std::string sizeText(uint64_t size);
// The first 16 digits: enough to tell two builds apart at a glance.
std::string shortDigest(const std::optional<LibraryFile>& library);
// "fail", "broke-off" ...: the CSS class of a word.
std::string cssClass(std::string_view word);
// Text with nothing hidden: C0 controls as their pictures (a printer's ESC
// reads as ␛), C1 controls and bidirectional overrides named ([U+202E]),
// CR LF as LF. Line ends and tabs stay.
std::string visibleText(std::string_view text);

} // namespace vpop::signoff
