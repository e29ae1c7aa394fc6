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

std::string libraryLine(const char* title, const LibraryIdentity& library)
{
    return std::string("- ") + title + ": " + markdownText(library.path) + ", " + markdownText(sizeText(library.size))
        + ", sha256 " + markdownText(library.sha256.value_or("unknown"))
        + (library.fileVersion ? ", version " + markdownText(*library.fileVersion) : "") + "\n";
}

std::string runLines(const RecordedRun& run)
{
    std::string out = libraryLine(run.probeLibrary ? "Library (devbench, 64-bit)" : "Library", run.library);
    if (run.probeLibrary) out += libraryLine("Library (holdprobe, 32-bit)", *run.probeLibrary);
    if (run.callingConvention) out += "- Calling convention: " + markdownText(*run.callingConvention) + "\n";
    out += "- Printer firmware: " + markdownText(run.firmware.value_or("unknown")) + "\n";
    out += "- Host: " + markdownText(run.host) + "; devbench " + markdownText(run.devbench) + "; mode "
        + markdownText(run.mode) + "\n";
    out += "- Port: " + markdownText(run.portName)
        + (run.portSettings.empty() ? "" : ", settings " + markdownText(run.portSettings)) + "\n";
    out += "- Started " + markdownText(startText(run.started)) + ", took " + markdownText(durationText(run)) + "\n";
    if (run.brokeOff) out += "- **Broke off**: " + markdownText(*run.brokeOff) + "\n";
    return out;
}

std::string failures(const RecordedRun& run, const std::string& heading)
{
    std::string out;
    if (!run.strayFailures.empty()) out += "\n**Outside any test**\n\n" + codeBlock(run.strayFailures);
    for (const RecordedTest& test : run.tests) {
        if (test.verdict != Verdict::Fail) continue;
        std::vector<std::string> lines = test.failureLines;
        lines.insert(lines.end(), test.findings.begin(), test.findings.end());
        out += "\n**" + std::to_string(test.number) + " " + markdownText(test.name)
            + (test.fault ? " (fault " + markdownText(*test.fault) + ")" : "") + "**\n\n" + codeBlock(lines);
    }
    return out.empty() ? "" : "\n" + heading + "\n" + out;
}

std::string changeText(Change change)
{
    return change == Change::regression ? " ▼ regression" : change == Change::fix ? " ▲ fix" : "";
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

std::string markdownReport(const RecordedRun& run)
{
    std::string out = "## devbench sign-off: " + verdictText(run.verdict) + "\n\n" + runLines(run);
    out += "\n| # | Test | Verdict | Time |\n|---:|---|---|---:|\n";
    for (const RecordedTest& test : run.tests) {
        out += "| " + std::to_string(test.number) + " | "
            + markdownText(test.name + (test.fault ? " (fault " + *test.fault + ")" : "")) + " | "
            + verdictText(test.verdict) + " | " + secondsText(test) + " |\n";
    }
    return out + failures(run, "### Failures");
}

std::string markdownComparison(const std::vector<RecordedRun>& runs)
{
    Grid grid = compareRuns(runs);
    std::string out = "## devbench comparison: " + std::to_string(grid.regressions) + " regressions, "
        + std::to_string(grid.fixes) + " fixes\n\n";
    for (size_t column = 0; column < grid.columns.size(); ++column) {
        const RecordedRun& run = *grid.columns[column];
        out += std::to_string(column + 1) + ". " + verdictText(run.verdict) + ": library "
            + markdownText(run.library.path) + ", sha256 " + markdownText(shortDigest(run.library.sha256)) + ", "
            + markdownText(startText(run.started))
            + (run.portSettings.empty() ? "" : ", settings " + markdownText(run.portSettings)) + " ("
            + markdownText(run.file) + ")\n";
    }
    out += "\n| # | Test |";
    for (size_t column = 0; column < grid.columns.size(); ++column) out += " Run " + std::to_string(column + 1) + " |";
    out += "\n|---:|---|";
    for (size_t column = 0; column < grid.columns.size(); ++column) out += "---|";
    out += "\n";
    for (const GridRow& row : grid.rows) {
        out += "| " + std::to_string(row.number) + " | "
            + markdownText(row.name + (row.fault ? " (fault " + *row.fault + ")" : "")) + " |";
        for (const Cell& cell : row.cells)
            out += " " + (cell.test ? verdictText(cell.test->verdict) + changeText(cell.change) : std::string("—"))
                + " |";
        out += "\n";
    }
    for (size_t column = 0; column < grid.columns.size(); ++column)
        out += failures(*grid.columns[column], "### Failures in run " + std::to_string(column + 1));
    return out;
}

} // namespace vpop::signoff
