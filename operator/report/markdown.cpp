#include "operator/report/markdown.h"

#include <string.h>

#include <algorithm>

#include "operator/report/content.h"

namespace vpop::signoff {

namespace {

std::string verdictText(Verdict verdict)
{
    std::string word(verdictWord(verdict));
    // Bold for what needs a look: a summary page has no colours.
    return verdict == Verdict::Pass || verdict == Verdict::NotRun ? word : "**" + word + "**";
}

// A fence longer than any run of backticks in the lines, which stay literal
// inside it whatever they hold.
std::string codeBlock(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += visibleText(line) + "\n";
    size_t longest = 0;
    for (size_t i = 0, run = 0; i < text.size(); ++i) {
        run = text[i] == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    std::string fence(std::max<size_t>(3, longest + 1), '`');
    return fence + "text\n" + text + fence + "\n";
}

std::string libraryLine(const char* title, const std::optional<LibraryFile>& library)
{
    if (!library) return std::string("- ") + title + ": unknown\n";
    std::string out = std::string("- ") + title + ": " + markdownText(library->path) + ", "
        + (library->read ? markdownText(sizeText(library->size)) + ", sha256 " + markdownText(library->sha256)
                         : std::string("unread"))
        + (library->fileVersion.empty() ? "" : ", version " + markdownText(library->fileVersion)) + "\n";
    if (!replacedText(*library).empty()) out += "- **" + markdownText(replacedText(*library)) + "**\n";
    return out;
}

std::string runLines(const RunRecord& run)
{
    std::string out = libraryLine(run.probeLibrary ? "Library (devbench, 64-bit)" : "Library", run.library);
    if (run.probeLibrary) out += libraryLine("Library (holdprobe, 32-bit)", run.probeLibrary);
    if (!run.callingConvention.empty()) out += "- Calling convention: " + markdownText(run.callingConvention) + "\n";
    out += "- Printer firmware: " + markdownText(printerFirmware(run).value_or("unknown")) + "\n";
    if (!run.build.empty()) out += "- Build: " + markdownText(run.build) + "\n";
    if (!run.by.empty() || !run.note.empty())
        out += "- By " + markdownText(run.by.empty() ? "(not named)" : run.by)
            + (run.note.empty() ? "" : "; note: " + markdownText(run.note)) + "\n";
    out += "- Bench: " + markdownText(run.bench) + "; host " + markdownText(run.host) + "; devbench "
        + markdownText(run.devbench) + "; mode " + markdownText(run.mode) + "\n";
    out += "- Port: " + markdownText(run.portName)
        + (run.portSettings.empty() ? "" : ", settings " + markdownText(run.portSettings)) + "\n";
    out += "- Started " + markdownText(startText(run.started)) + ", took " + markdownText(durationText(run)) + "\n";
    out += "- Tests: " + markdownText(countsText(run)) + "\n";
    if (!run.brokeOff.empty()) out += "- **Broke off**: " + markdownText(run.brokeOff) + "\n";
    return out;
}

std::string failures(const RunRecord& run, const std::string& heading)
{
    std::string out;
    if (!run.strayFailures.empty()) out += "\n**Outside any test**\n\n" + codeBlock(run.strayFailures);
    if (!run.strayStderr.empty())
        out += "\n**Standard error outside any test**\n\n" + codeBlock({ strayStderrText(run) });
    for (const RecordedTest& test : run.tests) {
        if (judgedVerdict(test) != Verdict::Fail) continue;
        std::vector<std::string> lines = failureLinesWithAnswers(test.result);
        lines.insert(lines.end(), test.result.findings.begin(), test.result.findings.end());
        if (std::string expectation = expectationText(test); !expectation.empty()) lines.push_back(expectation);
        out += "\n**" + markdownText(testTitle(test)) + "**\n\n" + codeBlock(lines);
        if (!test.result.stderrText.empty()) out += "\nStandard error:\n\n" + codeBlock({ test.result.stderrText });
    }
    return out.empty() ? "" : "\n" + heading + "\n" + out;
}

// The matrix's controls, each with the contract's words that allow it.
std::string controls(const RunRecord& run)
{
    std::vector<ControlRow> rows = controlRows(run);
    if (rows.empty()) return "";
    std::string out = "\n### Controls: healthy variations\n\n| Variation | What it does | Allowed by the library "
                      "contract | Outcome |\n|---|---|---|---|\n";
    for (const ControlRow& row : rows) {
        std::string outcome = row.outcome == "false failure" ? "**" + row.outcome + "**" : row.outcome;
        out += "| " + markdownText(row.variation) + " | " + markdownText(row.what) + " | " + markdownText(row.allowedBy)
            + " | " + outcome + (row.note.empty() ? "" : ": " + markdownText(row.note)) + " |\n";
    }
    return out;
}

std::string changeText(Change change)
{
    switch (change) {
    case Change::regression:
        return " ▼ regression";
    case Change::fix:
        return " ▲ fix";
    case Change::otherFailure:
        return " ◆ other failure";
    case Change::flaky:
        return " ≈ flaky";
    case Change::none:
        break;
    }
    return "";
}

} // namespace

std::string markdownText(std::string_view text)
{
    std::string out;
    for (char c : visibleText(text)) {
        if (c == '\n' || c == '\t') {
            out += ' ';
        } else if (c == '&') {
            out += "&amp;";
        } else if (c != '\0' && strchr("\\`*_[]<>|~", c) != nullptr) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string markdownReport(const ReadRun& read)
{
    const RunRecord& run = read.record;
    std::string out = "## devbench sign-off: " + verdictText(runVerdict(run).verdict) + markdownText(partialText(run))
        + "\n\n" + runLines(run);
    out += "\n| # | Test | Verdict | Time |\n|---:|---|---|---:|\n";
    for (const RecordedTest& test : run.tests) {
        std::string label = testLabel(test.result.suite, test.result.number);
        out += "| " + label + " | " + markdownText(testTitle(test).substr(label.size() + 1)) + " | "
            + verdictText(judgedVerdict(test)) + " | " + secondsText(test) + " |\n";
    }
    return out + controls(run) + failures(run, "### Failures");
}

std::string benchTable(const Grid& grid)
{
    std::string out = "| Bench | Runs | Passed | Failed | Broke off | Regressions | Fixes | Flaky | Last runs |\n"
                      "|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
    for (const BenchSummary& bench : grid.benches) {
        std::string last;
        for (size_t column : bench.lastRuns)
            last += (last.empty() ? "" : ", ") + verdictText(runVerdict(grid.columns[column]->record).verdict);
        out += "| " + markdownText(bench.bench) + " | " + std::to_string(bench.runs) + " | "
            + std::to_string(bench.passed) + " | " + std::to_string(bench.failed) + " | "
            + std::to_string(bench.brokeOff) + " | " + std::to_string(bench.regressions) + " | "
            + std::to_string(bench.fixes) + " | " + std::to_string(bench.flaky) + " | " + last + " |\n";
    }
    return out + "\n";
}

std::string markdownComparison(const std::vector<ReadRun>& runs, const ReadRun* baseline)
{
    Grid grid = compareRuns(runs, baseline);
    std::string out = "## devbench comparison: " + changeCounts(grid) + "\n\n";
    if (grid.benches.size() > 1 || grid.shown.size() < grid.columns.size()) out += benchTable(grid);
    if (grid.shown.size() < grid.columns.size())
        out += "The last " + std::to_string(LAST_RUNS_PER_BENCH) + " runs of each bench, of "
            + std::to_string(grid.columns.size()) + ":\n\n";
    for (size_t column : grid.shown) {
        const RunRecord& run = grid.columns[column]->record;
        out += std::to_string(column + 1) + ". " + (grid.baseline && column == 0 ? "baseline, " : "")
            + verdictText(runVerdict(run).verdict) + markdownText(partialText(run)) + ": library "
            + markdownText(run.library ? run.library->path : "unknown") + ", sha256 "
            + markdownText(shortDigest(run.library)) + ", " + markdownText(startText(run.started)) + ", bench "
            + markdownText(run.bench) + (run.portSettings.empty() ? "" : ", settings " + markdownText(run.portSettings))
            + " (" + markdownText(grid.columns[column]->file) + ")\n";
    }
    out += "\n| # | Test |";
    for (size_t column : grid.shown) out += " Run " + std::to_string(column + 1) + " |";
    out += "\n|---:|---|";
    for (size_t i = 0; i < grid.shown.size(); ++i) out += "---|";
    out += "\n";
    for (const GridRow& row : grid.rows) {
        out += "| " + testLabel(row.suite, row.number) + " | "
            + markdownText(std::string(suiteTest(row.suite, row.number).name) + row.profile) + " |";
        for (size_t column : grid.shown) {
            const Cell& cell = row.cells[column];
            out += " "
                + (cell.test ? verdictText(judgedVerdict(*cell.test)) + changeText(cell.change) : std::string("—"))
                + " |";
        }
        out += "\n";
    }
    for (size_t column : grid.shown)
        out += failures(grid.columns[column]->record, "### Failures in run " + std::to_string(column + 1));
    return out;
}

} // namespace vpop::signoff
