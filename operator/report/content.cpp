#include "operator/report/content.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "operator/record/paper_check.h"

namespace vpop::signoff {

namespace {

// The first reasons of a test are enough for a comparison's cell and for
// telling one failure from another.
const size_t KEPT_REASONS = 1;
const size_t KEPT_REASON_BYTES = 512;

bool failing(Verdict verdict) { return verdict == Verdict::Fail || verdict == Verdict::BrokeOff; }

// A row is one test of one fault or variation; a test planned twice has two.
using RowKey = std::tuple<std::string, Suite, unsigned, unsigned>;

std::string libraryKey(const RunRecord& run)
{
    if (!run.library) return "none";
    return run.library->read ? run.library->sha256 : "unread:" + run.library->path;
}

void orderColumns(const std::vector<ReadRun>& runs, const ReadRun* baseline, Grid* grid)
{
    if (baseline != nullptr) grid->columns.push_back(baseline);
    grid->baseline = baseline != nullptr;
    std::vector<const ReadRun*> others;
    for (const ReadRun& run : runs) others.push_back(&run);
    // The reader refuses a record whose start is not a time.
    auto start = [](const ReadRun* run) { return recordMoment(run->record.started).value_or(RecordTime()); };
    std::stable_sort(others.begin(), others.end(), [&](const ReadRun* a, const ReadRun* b) {
        return std::make_pair(a->record.bench, start(a)) < std::make_pair(b->record.bench, start(b));
    });
    grid->columns.insert(grid->columns.end(), others.begin(), others.end());
}

// Neighbouring columns shown of one library file share a heading.
void groupShown(Grid* grid)
{
    for (size_t i = 0; i < grid->shown.size(); ++i) {
        const RunRecord& run = grid->columns[grid->shown[i]]->record;
        if (i == 0 || libraryKey(grid->columns[grid->shown[i - 1]]->record) != libraryKey(run))
            grid->groups.push_back({ run.library, {} });
        grid->groups.back().columns.push_back(grid->shown[i]);
    }
}

// Why a test failed, to tell one failure from another.
std::vector<std::string> reasons(const RecordedTest& test)
{
    std::vector<std::string> out { std::string(verdictWord(judgedVerdict(test))) };
    out.insert(out.end(), test.result.failures.begin(), test.result.failures.end());
    out.insert(out.end(), test.result.findings.begin(), test.result.findings.end());
    return out;
}

Change changeOf(const RecordedTest* before, const RecordedTest& now)
{
    if (before == nullptr) return Change::none;
    Verdict was = judgedVerdict(*before);
    Verdict is = judgedVerdict(now);
    if (was == Verdict::Pass && failing(is)) return Change::regression;
    if (failing(was) && is == Verdict::Pass) return Change::fix;
    if (failing(was) && failing(is) && reasons(*before) != reasons(now)) return Change::otherFailure;
    return Change::none;
}

const std::string& benchOf(const Grid& grid, size_t column) { return grid.columns[column]->record.bench; }

void markChanges(Grid* grid)
{
    for (GridRow& row : grid->rows) {
        const RecordedTest* before = grid->baseline ? row.cells[0].test : nullptr;
        for (size_t column = grid->baseline ? 1 : 0; column < row.cells.size(); ++column) {
            // Each bench's runs are a history of their own.
            if (!grid->baseline && column > 0 && benchOf(*grid, column) != benchOf(*grid, column - 1)) before = nullptr;
            Cell& cell = row.cells[column];
            if (cell.test == nullptr || judgedVerdict(*cell.test) == Verdict::NotRun) continue;
            bool comparable = before != nullptr && judgedVerdict(*before) != Verdict::NotRun;
            cell.change = changeOf(comparable ? before : nullptr, *cell.test);
            if (!grid->baseline) before = cell.test;
        }
    }
}

// A verdict that passes and fails in turn, in time, under one library build on one
// bench says the test or the bench is unsteady, not that the library changed:
// its changes there are flaky, from the first to the last.
void markFlaky(Grid* grid)
{
    for (GridRow& row : grid->rows) {
        size_t start = grid->baseline ? 1 : 0;
        while (start < row.cells.size()) {
            size_t end = start + 1;
            while (end < row.cells.size() && benchOf(*grid, end) == benchOf(*grid, start)
                && libraryKey(grid->columns[end]->record) == libraryKey(grid->columns[start]->record))
                ++end;
            std::vector<size_t> changed;
            for (size_t column = start; column < end; ++column) {
                Change change = row.cells[column].change;
                if (change == Change::regression || change == Change::fix) changed.push_back(column);
            }
            if (changed.size() >= 2) {
                for (size_t column = changed.front(); column <= changed.back(); ++column) {
                    Change& change = row.cells[column].change;
                    if (change == Change::regression || change == Change::fix) change = Change::flaky;
                }
            }
            start = end;
        }
    }
}

void summarise(Grid* grid)
{
    for (size_t column = 0; column < grid->columns.size(); ++column) {
        const RunRecord& run = grid->columns[column]->record;
        if (grid->benches.empty() || grid->benches.back().bench != run.bench) {
            grid->benches.emplace_back();
            grid->benches.back().bench = run.bench;
        }
        BenchSummary& bench = grid->benches.back();
        ++bench.runs;
        Verdict verdict = runVerdict(run).verdict;
        bench.passed += verdict == Verdict::Pass;
        bench.failed += verdict == Verdict::Fail;
        bench.brokeOff += verdict == Verdict::BrokeOff;
        for (const GridRow& row : grid->rows) {
            Change change = row.cells[column].change;
            bench.regressions += change == Change::regression;
            bench.fixes += change == Change::fix;
            bench.flaky += change == Change::flaky;
            grid->regressions += change == Change::regression;
            grid->fixes += change == Change::fix;
            grid->otherFailures += change == Change::otherFailure;
            grid->flaky += change == Change::flaky;
        }
        bench.lastRuns.push_back(column);
        if (bench.lastRuns.size() > LAST_RUNS_PER_BENCH) bench.lastRuns.erase(bench.lastRuns.begin());
    }
    if (grid->baseline) grid->shown.push_back(0);
    for (size_t column = grid->baseline ? 1 : 0; column < grid->columns.size(); ++column) {
        const std::vector<size_t>& last = std::find_if(grid->benches.begin(), grid->benches.end(), [&](const auto& b) {
            return b.bench == benchOf(*grid, column);
        })->lastRuns;
        if (grid->columns.size() <= SHOWN_RUNS || std::find(last.begin(), last.end(), column) != last.end())
            grid->shown.push_back(column);
    }
}

void keepReasons(std::vector<std::string>& lines)
{
    if (lines.size() > KEPT_REASONS) lines.resize(KEPT_REASONS);
    for (std::string& line : lines) {
        if (line.size() > KEPT_REASON_BYTES) line.resize(KEPT_REASON_BYTES);
        line.shrink_to_fit();
    }
    lines.shrink_to_fit();
}

} // namespace

void keepForComparison(RunRecord* record)
{
    for (RecordedTest& test : record->tests) {
        TestRecord& result = test.result;
        keepReasons(result.failures);
        keepReasons(result.findings);
        result.paper.reset();
        // Swapped out: a string assigned an empty one keeps its buffer.
        std::string().swap(result.console);
        std::string().swap(result.stderrText);
    }
    keepReasons(record->strayFailures);
}

Grid compareRuns(const std::vector<ReadRun>& runs, const ReadRun* baseline)
{
    Grid grid;
    orderColumns(runs, baseline, &grid);
    std::map<RowKey, size_t> rowOf;
    for (size_t column = 0; column < grid.columns.size(); ++column) {
        std::map<std::tuple<std::string, Suite, unsigned>, unsigned> seen;
        for (const RecordedTest& test : grid.columns[column]->record.tests) {
            Suite suite = test.result.suite;
            unsigned number = test.result.number;
            std::string profile = profileText(test);
            RowKey key { profile, suite, number, seen[{ profile, suite, number }]++ };
            auto [it, added] = rowOf.emplace(key, grid.rows.size());
            if (added) grid.rows.push_back({ suite, number, profile, std::vector<Cell>(grid.columns.size()) });
            grid.rows[it->second].cells[column].test = &test;
        }
    }
    markChanges(&grid);
    if (!grid.baseline) markFlaky(&grid);
    summarise(&grid);
    groupShown(&grid);
    return grid;
}

static std::string counted(unsigned count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string changeCounts(const Grid& grid)
{
    return counted(grid.regressions, "regression", "regressions") + ", " + counted(grid.fixes, "fix", "fixes") + ", "
        + counted(grid.otherFailures, "other failure", "other failures") + ", " + std::to_string(grid.flaky) + " flaky";
}

bool anyRegression(const Grid& grid) { return grid.regressions > 0; }

bool lastRunFailed(const Grid& grid)
{
    for (const BenchSummary& bench : grid.benches) {
        if (runVerdict(grid.columns[bench.lastRuns.back()]->record).verdict != Verdict::Pass) return true;
    }
    return false;
}

std::vector<JobCheck> checkJobs(const RecordedTest& test)
{
    std::vector<JobCheck> checks;
    const TestRecord& result = test.result;
    if (!result.paper) return checks;
    const std::vector<PaperJob>& jobs = *result.paper;
    const std::vector<SentJob>* sent
        = result.paperChecked && result.suite == Suite::Devbench ? sentJobs(result.number) : nullptr;
    size_t sentCount = sent == nullptr ? 0 : sent->size();
    for (size_t i = 0; i < std::max(jobs.size(), sentCount); ++i) {
        JobCheck check;
        if (i < jobs.size()) check.job = &jobs[i];
        if (i < sentCount) check.expected = std::string((*sent)[i].what);
        if (sent == nullptr) {
            check.outcome = "not checked";
        } else if (check.job == nullptr) {
            check.outcome = "missing";
        } else if (i >= sentCount) {
            check.outcome = "not sent";
        } else {
            bool same = check.job->size == (*sent)[i].size && check.job->sha256 == (*sent)[i].sha256;
            check.outcome = same ? "matches" : "differs";
        }
        checks.push_back(check);
    }
    return checks;
}

std::string partialText(const RunRecord& record)
{
    Coverage covered = coverage(record);
    if (!covered.partial) return "";
    return " (partial: " + std::to_string(covered.ran) + " of the " + std::to_string(covered.suite) + " tests ran)";
}

std::string countsText(const RunRecord& record)
{
    unsigned counts[4] = {};
    for (const RecordedTest& test : record.tests) ++counts[static_cast<int>(judgedVerdict(test))];
    std::string out;
    for (Verdict verdict : { Verdict::Pass, Verdict::Fail, Verdict::BrokeOff, Verdict::NotRun }) {
        std::string word(verdictWord(verdict));
        if (verdict == Verdict::Pass || verdict == Verdict::Fail) word += "ed";
        out += (out.empty() ? "" : ", ") + std::to_string(counts[static_cast<int>(verdict)]) + " " + word;
    }
    Coverage covered = coverage(record);
    if (covered.partial) out += "; " + std::to_string(covered.suite - covered.ran) + " of the suite's tests never ran";
    if (record.matrix) {
        size_t caught = std::count_if(
            record.faults.begin(), record.faults.end(), [](const FaultResult& fault) { return fault.caught; });
        out += "; " + std::to_string(caught) + " of " + std::to_string(record.faults.size()) + " faults caught";
        size_t passed = std::count_if(record.variations.begin(), record.variations.end(),
            [](const VariationResult& variation) { return variation.passed; });
        if (!record.variations.empty())
            out += "; " + std::to_string(passed) + " of " + std::to_string(record.variations.size())
                + " controls passed";
    }
    return out;
}

std::string testTitle(const RecordedTest& test)
{
    return testTitle(test.result.suite, test.result.number) + profileText(test);
}

std::string expectationText(const RecordedTest& test)
{
    if (test.expectedFailure.empty()) return "";
    return (test.expectedSeen ? "caught: " : "not caught: no ") + test.expectedFailure;
}

std::vector<ControlRow> controlRows(const RunRecord& record)
{
    std::vector<ControlRow> rows;
    for (const VariationResult& variation : record.variations)
        rows.push_back({ variation.variation, variation.passed, std::string(variationOutcome(variation)),
            variation.what, variation.allowedBy, variation.note });
    return rows;
}

std::string replacedText(const LibraryFile& library)
{
    if (!library.identityNote.empty()) return library.identityNote;
    if (!library.replacedDuringRun) return "";
    return "the file was replaced during the run" + (library.replacedNote.empty() ? "" : ": " + library.replacedNote);
}

std::string startText(const std::string& started)
{
    if (!recordMoment(started)) return started.empty() ? "unknown" : started;
    return started.substr(0, 10) + " " + started.substr(11, 8) + " UTC";
}

std::string durationText(const RunRecord& run)
{
    using namespace std::chrono;
    std::optional<RecordTime> start = recordMoment(run.started);
    std::optional<RecordTime> end = recordMoment(run.finished);
    if (!start || !end || *end < *start) return "unknown";
    seconds total = *end - *start;
    hours h = duration_cast<hours>(total);
    minutes m = duration_cast<minutes>(total - h);
    seconds s = total - h - m;
    if (total < minutes(1)) return std::to_string(s.count()) + " s";
    if (total < hours(1)) return std::to_string(m.count()) + " min " + std::to_string(s.count()) + " s";
    return std::to_string(h.count()) + " h " + std::to_string(m.count()) + " min";
}

std::string secondsText(const RecordedTest& test)
{
    if (!test.result.bannerSeen) return "";
    char text[32];
    snprintf(text, sizeof text, "%.3f s", test.result.seconds());
    return text;
}

std::string sizeText(uint64_t size)
{
    std::string digits = std::to_string(size);
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits + " bytes";
}

std::string shortDigest(const std::optional<LibraryFile>& library)
{
    return library && library->read ? library->sha256.substr(0, 16) : std::string("unknown");
}

std::string cssClass(std::string_view word)
{
    std::string out(word);
    std::replace(out.begin(), out.end(), ' ', '-');
    return out;
}

namespace {

void appendCodePoint(std::string& out, unsigned code)
{
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
}

// A C0 control as its picture (U+2400 and on): a printer's escape byte in a
// console reads as ␛ instead of vanishing or moving the text about.
void appendControl(std::string& out, unsigned char byte)
{
    appendCodePoint(out, byte == 0x7F ? 0x2421 : 0x2400 + byte);
}

// Bidirectional overrides and isolates reorder the text after them; C1
// controls are invisible. Both are named instead. Returns the bytes taken.
size_t appendHiddenCharacter(std::string& out, std::string_view text, size_t i)
{
    auto byte = [&](size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    unsigned code = 0;
    if (byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) code = byte(1);
    if (byte(0) == 0xE2 && byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE) code = 0x2000 + byte(2) - 0x80;
    if (byte(0) == 0xE2 && byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9) code = 0x2040 + byte(2) - 0x80;
    if (code == 0) return 0;
    char name[16];
    snprintf(name, sizeof name, "[U+%04X]", code);
    out += name;
    return code < 0x100 ? 2 : 3;
}

} // namespace

std::string visibleText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (size_t taken = appendHiddenCharacter(out, text, i)) {
            i += taken - 1;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // A Windows console's line ends are plain line ends.
        } else if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            appendControl(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace vpop::signoff
