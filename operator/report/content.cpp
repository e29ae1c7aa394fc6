#include "operator/report/content.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "operator/run/paper_check.h"

namespace vpop::signoff {

namespace {

bool failed(const RecordedTest& test) { return test.verdict == Verdict::Fail || test.verdict == Verdict::BrokeOff; }

// A row is one test of one fault profile; a test planned twice has two.
using RowKey = std::tuple<std::string, unsigned, unsigned>;

std::string libraryKey(const RecordedRun& run) { return run.library.sha256.value_or("unread:" + run.library.path); }

void groupColumns(const std::vector<RecordedRun>& runs, Grid* grid)
{
    std::map<std::string, size_t> groupOf;
    std::vector<std::vector<const RecordedRun*>> members;
    for (const RecordedRun& run : runs) {
        auto [it, added] = groupOf.emplace(libraryKey(run), grid->groups.size());
        if (added) {
            grid->groups.push_back({ run.library, {} });
            members.emplace_back();
        }
        members[it->second].push_back(&run);
    }
    // Columns in group order, each group's runs in the order given.
    for (size_t group = 0; group < members.size(); ++group) {
        for (const RecordedRun* run : members[group]) {
            grid->groups[group].columns.push_back(grid->columns.size());
            grid->columns.push_back(run);
        }
    }
}

void markChanges(Grid* grid)
{
    for (GridRow& row : grid->rows) {
        const RecordedTest* before = nullptr;
        for (Cell& cell : row.cells) {
            if (cell.test == nullptr || cell.test->verdict == Verdict::NotRun) continue;
            if (before != nullptr && before->verdict == Verdict::Pass && failed(*cell.test)) {
                cell.change = Change::regression;
                ++grid->regressions;
            } else if (before != nullptr && failed(*before) && cell.test->verdict == Verdict::Pass) {
                cell.change = Change::fix;
                ++grid->fixes;
            }
            before = cell.test;
        }
    }
}

} // namespace

Grid compareRuns(const std::vector<RecordedRun>& runs)
{
    Grid grid;
    groupColumns(runs, &grid);
    std::map<RowKey, size_t> rowOf;
    for (size_t column = 0; column < grid.columns.size(); ++column) {
        std::map<std::pair<std::string, unsigned>, unsigned> seen;
        for (const RecordedTest& test : grid.columns[column]->tests) {
            std::string fault = test.fault.value_or("");
            RowKey key { fault, test.number, seen[{ fault, test.number }]++ };
            auto [it, added] = rowOf.emplace(key, grid.rows.size());
            if (added)
                grid.rows.push_back({ test.number, test.fault, test.name, std::vector<Cell>(grid.columns.size()) });
            grid.rows[it->second].cells[column].test = &test;
        }
    }
    markChanges(&grid);
    return grid;
}

std::vector<JobCheck> checkJobs(const RecordedTest& test)
{
    std::vector<JobCheck> checks;
    if (!test.paperJobs) return checks;
    const std::vector<PaperJob>& jobs = *test.paperJobs;
    const std::vector<SentJob>* sent = test.paperChecked ? sentJobs(test.number) : nullptr;
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

std::string startText(const std::optional<std::string>& started)
{
    if (!started) return "unknown";
    std::string text = *started;
    if (text.size() == 20 && text[10] == 'T' && text[19] == 'Z')
        return text.substr(0, 10) + " " + text.substr(11, 8) + " UTC";
    return text;
}

namespace {

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ"; -1 when it is not that.
long long epochSeconds(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (text.size() != 20
        || sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second, &zone) != 7
        || zone != 'Z' || month < 1 || month > 12)
        return -1;
    // Days from civil: March-based years put the leap day last.
    int y = year - (month <= 2 ? 1 : 0);
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yearOfEra = y - era * 400;
    long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    long long days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

} // namespace

std::string durationText(const RecordedRun& run)
{
    long long start = run.started ? epochSeconds(*run.started) : -1;
    long long end = run.finished ? epochSeconds(*run.finished) : -1;
    if (start < 0 || end < start) return "unknown";
    long long seconds = end - start;
    if (seconds < 60) return std::to_string(seconds) + " s";
    if (seconds < 3600) return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

std::string secondsText(const RecordedTest& test)
{
    if (!test.seconds || test.verdict == Verdict::NotRun) return "";
    char text[32];
    snprintf(text, sizeof text, "%.3f s", *test.seconds);
    return text;
}

std::string sizeText(const std::optional<uint64_t>& size)
{
    if (!size) return "unknown size";
    std::string digits = std::to_string(*size);
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits + " bytes";
}

std::string shortDigest(const std::optional<std::string>& sha256)
{
    return sha256 ? sha256->substr(0, 16) : std::string("unknown");
}

std::string verdictClass(const std::string& verdict)
{
    std::string out = verdict;
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
