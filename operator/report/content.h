// What the sign-off report says, whatever it is written as (a page or
// Markdown): the comparison of runs, the paper's jobs against what each test
// sent, and the few phrases both forms share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/report/record.h"

namespace vpop::signoff {

enum class Change { none, regression, fix };

struct Cell {
    // Null when the run has no such test.
    const RecordedTest* test = nullptr;
    // Against the nearest column to the left that has the test.
    Change change = Change::none;
};

struct GridRow {
    unsigned number = 0;
    std::optional<std::string> fault;
    std::string name;
    std::vector<Cell> cells;
};

// Runs of one library file (one SHA-256), side by side.
struct LibraryGroup {
    LibraryIdentity library;
    std::vector<size_t> columns;
};

struct Grid {
    // The runs in the order shown: grouped by library file, groups in the
    // order their first run was given.
    std::vector<const RecordedRun*> columns;
    std::vector<LibraryGroup> groups;
    std::vector<GridRow> rows;
    unsigned regressions = 0;
    unsigned fixes = 0;
};

Grid compareRuns(const std::vector<RecordedRun>& runs);

// One job the printer took, against the job the test sent in its place.
struct JobCheck {
    // Null for a job the test never sent (or one it sent that never came).
    const PaperJob* job = nullptr;
    std::string expected;
    // "matches", "differs", "not sent", "missing" or "not checked".
    std::string outcome;
};
std::vector<JobCheck> checkJobs(const RecordedTest& test);

// "2026-12-08 02:06:45 UTC" of "2026-12-08T02:06:45Z"; "unknown" for none.
std::string startText(const std::optional<std::string>& started);
// "4.2 s" or "12 min 5 s"; "unknown" while the record has no end.
std::string durationText(const RecordedRun& run);
// "0.012 s", or "" for a test that never ran.
std::string secondsText(const RecordedTest& test);
// "888,736 bytes", or "unknown size".
std::string sizeText(const std::optional<uint64_t>& size);
// The first 16 digits: enough to tell two builds apart at a glance.
std::string shortDigest(const std::optional<std::string>& sha256);
// "fail", "broke off" ...: the CSS class and the word are the same text.
std::string verdictClass(const std::string& verdict);
// Text with nothing hidden: C0 controls as their pictures (a printer's ESC
// reads as ␛), C1 controls and bidirectional overrides named ([U+202E]),
// CR LF as LF. Line ends and tabs stay.
std::string visibleText(std::string_view text);

} // namespace vpop::signoff
