#include "operator/report/html.h"

#include "operator/record/text_escape.h"
#include "operator/report/content.h"

// The page's style, operator/report/page.css, built in by CMake.
extern const char SIGNOFF_PAGE_CSS[];

namespace vpop::signoff {

namespace {

// Even a text that escaped its escaping could run nothing and fetch nothing.
const char POLICY[] = "default-src 'none'; style-src 'unsafe-inline'";

std::string badge(Verdict verdict)
{
    std::string word(verdictWord(verdict));
    return "<span class=\"verdict " + verdictClass(word) + "\">" + htmlText(word) + "</span>";
}

std::string fact(const std::string& name, const std::string& valueHtml)
{
    return "<dt>" + htmlText(name) + "</dt><dd>" + valueHtml + "</dd>\n";
}

std::string libraryFacts(const std::string& title, const LibraryIdentity& library)
{
    std::string out = fact(title, "<code>" + htmlText(library.path) + "</code>");
    out += fact("size", htmlText(sizeText(library.size)));
    out += fact(
        "SHA-256", "<code>" + htmlText(library.sha256.value_or("unknown (the file could not be read)")) + "</code>");
    if (library.fileVersion) out += fact("file version", htmlText(*library.fileVersion));
    return out;
}

std::string counts(const RecordedRun& run)
{
    unsigned pass = 0, fail = 0, brokeOff = 0, notRun = 0;
    for (const RecordedTest& test : run.tests) {
        unsigned& count = test.verdict == Verdict::Pass ? pass
            : test.verdict == Verdict::Fail             ? fail
            : test.verdict == Verdict::BrokeOff         ? brokeOff
                                                        : notRun;
        ++count;
    }
    return std::to_string(pass) + " passed, " + std::to_string(fail) + " failed, " + std::to_string(brokeOff)
        + " broke off, " + std::to_string(notRun) + " not run";
}

std::string runFacts(const RecordedRun& run)
{
    bool windows = run.probeLibrary.has_value();
    std::string out = "<dl class=\"facts\">\n";
    out += libraryFacts(windows ? "library (devbench, 64-bit)" : "library", run.library);
    if (run.probeLibrary) out += libraryFacts("library (holdprobe, 32-bit)", *run.probeLibrary);
    if (run.callingConvention) out += fact("calling convention", htmlText(*run.callingConvention));
    out += fact("printer firmware",
        run.firmware ? "<code>" + htmlText(*run.firmware) + "</code>" : "unknown (Test Read did not read it)");
    out += fact("host", htmlText(run.host));
    out += fact("devbench", htmlText(run.devbench));
    out += fact("mode", htmlText(run.mode == "manual" ? "by hand (manual)" : run.mode));
    out += fact("port",
        "<code>" + htmlText(run.portName) + "</code>"
            + (run.portSettings.empty() ? "" : " settings <code>" + htmlText(run.portSettings) + "</code>"));
    out += fact("started", htmlText(startText(run.started)));
    out += fact("duration", htmlText(durationText(run)));
    out += fact("tests", htmlText(counts(run)));
    if (run.brokeOff) out += fact("broke off", "<strong>" + htmlText(*run.brokeOff) + "</strong>");
    return out + "</dl>\n";
}

std::string lineList(const std::vector<std::string>& lines, const char* kind)
{
    if (lines.empty()) return "";
    std::string out = std::string("<ul class=\"lines ") + kind + "\">";
    for (const std::string& line : lines) out += "<li><code>" + htmlText(line) + "</code></li>";
    return out + "</ul>\n";
}

std::string jobTable(const RecordedTest& test)
{
    std::vector<JobCheck> checks = checkJobs(test);
    if (checks.empty()) return "";
    std::string out = "<table class=\"jobs\"><tr><th>job</th><th>size</th><th>SHA-256</th><th>against what the test "
                      "sent</th></tr>\n";
    for (const JobCheck& check : checks) {
        std::string sent = check.expected.empty() ? "" : " " + htmlText(check.expected);
        out += "<tr><td>" + (check.job ? std::to_string(check.job->number) : std::string("—")) + "</td><td>"
            + (check.job ? htmlText(sizeText(check.job->size)) : "") + "</td><td><code>"
            + (check.job ? htmlText(check.job->sha256) : "") + "</code></td><td><span class=\"outcome "
            + verdictClass(check.outcome) + "\">" + htmlText(check.outcome) + "</span>" + sent + "</td></tr>\n";
    }
    return out + "</table>\n";
}

std::string testName(const RecordedTest& test)
{
    return test.name + (test.fault ? " (fault " + *test.fault + ")" : "");
}

// A matrix run holds a test once per fault.
std::string testId(const RecordedTest& test, size_t index)
{
    return "test-" + std::to_string(test.number) + (test.fault ? "-" + std::to_string(index) : "");
}

// At a glance, before the table: what failed and how.
std::string failedSummary(const RecordedRun& run)
{
    std::string out;
    for (size_t i = 0; i < run.tests.size(); ++i) {
        const RecordedTest& test = run.tests[i];
        if (test.verdict != Verdict::Fail && test.verdict != Verdict::BrokeOff) continue;
        out += "<li><a href=\"#" + testId(test, i) + "\">" + std::to_string(test.number) + " "
            + htmlText(testName(test)) + "</a> " + badge(test.verdict) + lineList(test.failureLines, "failures")
            + lineList(test.findings, "findings") + "</li>\n";
    }
    if (run.brokeOff) out += "<li>The run broke off: <strong>" + htmlText(*run.brokeOff) + "</strong></li>\n";
    if (out.empty()) return "";
    return "<section class=\"sheet\" id=\"failed\"><h2>What failed</h2>\n<ul class=\"failed\">\n" + out
        + "</ul>\n</section>\n";
}

std::string testRows(const RecordedTest& test, size_t index, bool virtualRun)
{
    std::string name = testName(test);
    std::string out = "<tbody class=\"test " + verdictClass(std::string(verdictWord(test.verdict))) + "\" id=\""
        + testId(test, index) + "\">\n<tr><td class=\"number\">" + std::to_string(test.number) + "</td><td>"
        + htmlText(name) + "</td><td>" + badge(test.verdict) + "</td><td class=\"time\">" + htmlText(secondsText(test))
        + "</td></tr>\n";
    std::string detail = test.verdict == Verdict::Fail
        ? lineList(test.failureLines, "failures") + lineList(test.findings, "findings")
        : "";
    if (virtualRun) detail += jobTable(test);
    if (!test.console.empty())
        detail += "<details><summary>console</summary><pre>" + htmlText(test.console) + "</pre></details>\n";
    if (!detail.empty()) out += "<tr class=\"detail\"><td></td><td colspan=\"3\">\n" + detail + "</td></tr>\n";
    return out + "</tbody>\n";
}

std::string page(const std::string& title, const std::string& body)
{
    return "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\""
        + std::string(POLICY) + "\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
        + htmlText(title) + "</title>\n<style>\n" + SIGNOFF_PAGE_CSS + "</style>\n</head>\n<body>\n" + body
        + "</body>\n</html>\n";
}

std::string strayLines(const RecordedRun& run)
{
    if (run.strayFailures.empty()) return "";
    return "<section class=\"sheet\"><h2>Failure lines outside any test</h2>\n"
        + lineList(run.strayFailures, "failures") + "</section>\n";
}

// The column starts a library group after the first.
bool groupStart(const Grid& grid, size_t column)
{
    for (size_t g = 1; g < grid.groups.size(); ++g) {
        if (grid.groups[g].columns.front() == column) return true;
    }
    return false;
}

std::string gridHead(const Grid& grid)
{
    std::string out = "<thead>\n<tr><th rowspan=\"2\">#</th><th rowspan=\"2\">test</th>";
    for (const LibraryGroup& group : grid.groups) {
        out += "<th class=\"group\" colspan=\"" + std::to_string(group.columns.size()) + "\">library <code>"
            + htmlText(group.library.path) + "</code><br>sha256 <code>" + htmlText(shortDigest(group.library.sha256))
            + "</code>, " + htmlText(sizeText(group.library.size))
            + (group.library.fileVersion ? ", version " + htmlText(*group.library.fileVersion) : "")
            + (group.columns.size() > 1
                    ? "<br><span class=\"note\">" + std::to_string(group.columns.size()) + " runs of this file</span>"
                    : "")
            + "</th>";
    }
    out += "</tr>\n<tr>";
    for (size_t column = 0; column < grid.columns.size(); ++column) {
        const RecordedRun& run = *grid.columns[column];
        out += std::string("<th class=\"run") + (groupStart(grid, column) ? " first" : "") + "\">"
            + htmlText(startText(run.started)) + "<br>" + badge(run.verdict) + "<br><span class=\"note\">"
            + htmlText(run.host)
            + (run.portSettings.empty() ? "" : ", settings <code>" + htmlText(run.portSettings) + "</code>") + "<br>"
            + htmlText(run.file) + "</span></th>";
    }
    return out + "</tr>\n</thead>\n";
}

std::string gridCell(const Cell& cell, bool first)
{
    const char* change = cell.change == Change::regression ? " regression" : cell.change == Change::fix ? " fix" : "";
    std::string out = std::string("<td class=\"cell") + change + (first ? " first" : "") + "\">";
    if (cell.test == nullptr) return out + "<span class=\"note\">not in this run</span></td>";
    out += badge(cell.test->verdict);
    if (cell.change == Change::regression) out += "<span class=\"mark regression\">regression</span>";
    if (cell.change == Change::fix) out += "<span class=\"mark fix\">fix</span>";
    const std::vector<std::string>& why
        = cell.test->failureLines.empty() ? cell.test->findings : cell.test->failureLines;
    if (cell.test->verdict == Verdict::Fail && !why.empty())
        out += "<code class=\"why\">" + htmlText(why.front()) + "</code>";
    return out + "</td>";
}

std::string gridBody(const Grid& grid)
{
    std::string out = "<tbody>\n";
    for (const GridRow& row : grid.rows) {
        std::string name = row.name + (row.fault ? " (fault " + *row.fault + ")" : "");
        out += "<tr><td class=\"number\">" + std::to_string(row.number) + "</td><td>" + htmlText(name) + "</td>";
        for (size_t column = 0; column < row.cells.size(); ++column)
            out += gridCell(row.cells[column], groupStart(grid, column));
        out += "</tr>\n";
    }
    return out + "</tbody>\n";
}

} // namespace

// The report's text is the JUnit report's XML escaping of what a person
// can see; every attribute value on the page is in double quotes.
std::string htmlText(std::string_view text) { return xmlEscaped(visibleText(text), false); }

std::string htmlReport(const RecordedRun& run)
{
    bool virtualRun = run.mode == "virtual";
    std::string body
        = "<header>\n<h1>devbench sign-off " + badge(run.verdict) + "</h1>\n" + runFacts(run) + "</header>\n<main>\n";
    body += failedSummary(run) + strayLines(run);
    body += "<section class=\"sheet\"><h2>Tests</h2>\n<table class=\"tests\">\n<thead><tr><th>#</th><th>test</th>"
            "<th>verdict</th><th>time</th></tr></thead>\n";
    for (size_t i = 0; i < run.tests.size(); ++i) body += testRows(run.tests[i], i, virtualRun);
    body += "</table>\n";
    if (virtualRun)
        body += "<p class=\"note\">Jobs: what the virtual printer took during each test, against what the test "
                "sent.</p>\n";
    body += "</section>\n<p class=\"note\">From " + htmlText(run.file) + "</p>\n</main>\n";
    return page("devbench sign-off: " + std::string(verdictWord(run.verdict)) + " — " + run.library.path, body);
}

std::string htmlComparison(const std::vector<RecordedRun>& runs)
{
    Grid grid = compareRuns(runs);
    std::string body = "<header>\n<h1>devbench comparison of " + std::to_string(runs.size()) + " runs</h1>\n";
    body += "<p class=\"counts\" id=\"changes\"><strong>" + std::to_string(grid.regressions) + " regression"
        + (grid.regressions == 1 ? "" : "s") + "</strong><strong>" + std::to_string(grid.fixes) + " fix"
        + (grid.fixes == 1 ? "" : "es")
        + "</strong><span class=\"note\">a regression passed in the run to its left"
          " and fails (or broke off) here; a fix is the reverse; runs of the same library file stand "
          "together</span></p>\n";
    body += "</header>\n<main>\n<section class=\"sheet\">\n<table class=\"grid\">\n" + gridHead(grid) + gridBody(grid)
        + "</table>\n</section>\n</main>\n";
    return page("devbench comparison: " + std::to_string(grid.regressions) + " regressions, "
            + std::to_string(grid.fixes) + " fixes",
        body);
}

} // namespace vpop::signoff
