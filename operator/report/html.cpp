#include "operator/report/html.h"

#include "operator/record/text_escape.h"

// The page's style, operator/report/page.css, built in by CMake.
extern const char SIGNOFF_PAGE_CSS[];

namespace vpop::signoff {

namespace {

// Even a text that escaped its escaping could run nothing and fetch nothing.
const char POLICY[] = "default-src 'none'; style-src 'unsafe-inline'";

std::string badge(Verdict verdict)
{
    std::string_view word = verdictWord(verdict);
    return "<span class=\"verdict " + cssClass(word) + "\">" + htmlText(word) + "</span>";
}

// The run's verdict, and a mark when it covers part of the suite only.
std::string runBadge(const RunRecord& run)
{
    Coverage covered = coverage(run);
    std::string out = badge(runVerdict(run).verdict);
    if (covered.partial)
        out += "<span class=\"mark partial\">partial: " + std::to_string(covered.ran) + " of "
            + std::to_string(covered.suite) + "</span>";
    return out;
}

std::string fact(const std::string& name, const std::string& valueHtml)
{
    return "<dt>" + htmlText(name) + "</dt><dd>" + valueHtml + "</dd>\n";
}

std::string code(const std::string& text) { return "<code>" + htmlText(text) + "</code>"; }

std::string libraryFacts(const std::string& title, const std::optional<LibraryFile>& library)
{
    if (!library) return fact(title, "unknown (devbench's process did not show which it loaded)");
    std::string out = fact(title, code(library->path));
    if (!replacedText(*library).empty())
        out += fact("replaced", "<span class=\"replaced\">" + htmlText(replacedText(*library)) + "</span>");
    out += fact("size", library->read ? htmlText(sizeText(library->size)) : "unknown");
    out += fact("SHA-256", library->read ? code(library->sha256) : "unknown (the file could not be read)");
    if (!library->fileVersion.empty()) out += fact("file version", htmlText(library->fileVersion));
    return out;
}

std::string runFacts(const RunRecord& run)
{
    bool windows = run.probeLibrary.has_value();
    std::string out = "<dl class=\"facts\">\n";
    out += libraryFacts(windows ? "library (devbench, 64-bit)" : "library", run.library);
    if (run.probeLibrary) out += libraryFacts("library (holdprobe, 32-bit)", run.probeLibrary);
    if (!run.callingConvention.empty()) out += fact("calling convention", htmlText(run.callingConvention));
    std::optional<std::string> firmware = printerFirmware(run);
    out += fact("printer firmware", firmware ? code(*firmware) : "unknown (Test Read did not read it)");
    if (!run.build.empty()) out += fact("build", "<strong>" + htmlText(run.build) + "</strong>");
    out += fact("bench", htmlText(run.bench));
    if (!run.by.empty()) out += fact("by", htmlText(run.by));
    if (!run.note.empty()) out += fact("note", htmlText(run.note));
    out += fact("host", htmlText(run.host));
    out += fact("devbench", htmlText(run.devbench));
    out += fact("mode", htmlText(run.mode == "manual" ? "by hand (manual)" : run.mode));
    out += fact("port", code(run.portName) + (run.portSettings.empty() ? "" : " settings " + code(run.portSettings)));
    out += fact("started", htmlText(startText(run.started)));
    out += fact("duration", htmlText(durationText(run)));
    out += fact("tests", htmlText(countsText(run)));
    if (!run.brokeOff.empty()) out += fact("broke off", "<strong>" + htmlText(run.brokeOff) + "</strong>");
    return out + "</dl>\n";
}

std::string lineList(const std::vector<std::string>& lines, const char* kind)
{
    if (lines.empty()) return "";
    std::string out = std::string("<ul class=\"lines ") + kind + "\">";
    for (const std::string& line : lines) out += "<li>" + code(line) + "</li>";
    return out + "</ul>\n";
}

// What the test failed with: devbench's lines, the operator's findings, a
// matrix's expectation and what the library said on standard error.
std::string failureDetail(const RecordedTest& test)
{
    std::string out
        = lineList(failureLinesWithAnswers(test.result), "failures") + lineList(test.result.findings, "findings");
    if (std::string expectation = expectationText(test); !expectation.empty())
        out += "<p class=\"note\">" + htmlText(expectation) + "</p>\n";
    if (!test.result.stderrText.empty())
        out += "<p class=\"note\">standard error</p><pre class=\"stderr\">" + htmlText(test.result.stderrText)
            + "</pre>\n";
    return out;
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
            + (check.job ? htmlText(sizeText(check.job->size)) : "") + "</td><td>"
            + (check.job ? code(check.job->sha256) : "") + "</td><td><span class=\"outcome " + cssClass(check.outcome)
            + "\">" + htmlText(check.outcome) + "</span>" + sent + "</td></tr>\n";
    }
    return out + "</table>\n";
}

// A matrix run holds a test once per fault and variation.
std::string testId(const RecordedTest& test, size_t index)
{
    return "test-" + std::to_string(test.result.number)
        + (profileText(test).empty() ? "" : "-" + std::to_string(index));
}

// At a glance, before the table: what failed and how.
std::string failedSummary(const RunRecord& run)
{
    std::string out;
    for (size_t i = 0; i < run.tests.size(); ++i) {
        const RecordedTest& test = run.tests[i];
        Verdict verdict = judgedVerdict(test);
        if (verdict != Verdict::Fail && verdict != Verdict::BrokeOff) continue;
        out += "<li><a href=\"#" + testId(test, i) + "\">" + htmlText(testTitle(test)) + "</a> " + badge(verdict)
            + failureDetail(test) + "</li>\n";
    }
    if (!run.brokeOff.empty()) out += "<li>The run broke off: <strong>" + htmlText(run.brokeOff) + "</strong></li>\n";
    for (const std::optional<LibraryFile>* library : { &run.library, &run.probeLibrary }) {
        if (*library && !replacedText(**library).empty())
            out += "<li><span class=\"replaced\">" + htmlText((*library)->path + ": " + replacedText(**library))
                + "</span></li>\n";
    }
    if (out.empty()) return "";
    return "<section class=\"sheet\" id=\"failed\"><h2>What failed</h2>\n<ul class=\"failed\">\n" + out
        + "</ul>\n</section>\n";
}

std::string testRows(const RecordedTest& test, size_t index, bool virtualRun)
{
    Verdict verdict = judgedVerdict(test);
    std::string out = "<tbody class=\"test " + cssClass(verdictWord(verdict)) + "\" id=\"" + testId(test, index)
        + "\">\n<tr><td class=\"number\">" + testLabel(test.result.suite, test.result.number) + "</td><td>"
        + htmlText(testTitle(test).substr(testLabel(test.result.suite, test.result.number).size() + 1)) + "</td><td>"
        + badge(verdict) + "</td><td class=\"time\">" + htmlText(secondsText(test)) + "</td></tr>\n";
    std::string detail = verdict == Verdict::Pass && test.expectedFailure.empty() ? "" : failureDetail(test);
    if (virtualRun) detail += jobTable(test);
    if (!test.result.console.empty())
        detail += "<details><summary>console</summary><pre>" + htmlText(test.result.console) + "</pre></details>\n";
    if (!detail.empty()) out += "<tr class=\"detail\"><td></td><td colspan=\"3\">\n" + detail + "</td></tr>\n";
    return out + "</tbody>\n";
}

std::string faultTable(const RunRecord& run)
{
    if (!run.matrix) return "";
    std::string out = "<section class=\"sheet\" id=\"faults\"><h2>Faults</h2>\n<table class=\"faults\">\n<thead><tr>"
                      "<th>fault</th><th>expected test</th><th>caught</th><th>note</th></tr></thead>\n";
    for (const FaultResult& fault : run.faults) {
        out += "<tr><td>" + code(fault.fault) + "</td><td>" + htmlText(testTitle(fault.suite, fault.expectedTest))
            + "</td><td>" + badge(fault.caught ? Verdict::Pass : Verdict::Fail) + "</td><td>" + htmlText(fault.note)
            + "</td></tr>\n";
    }
    return out + "</table>\n</section>\n";
}

// The matrix's controls: the healthy variations, each with the contract's
// words that allow it.
std::string controlTable(const RunRecord& run)
{
    std::vector<ControlRow> rows = controlRows(run);
    if (rows.empty()) return "";
    std::string out = "<section class=\"sheet\" id=\"controls\"><h2>Controls: healthy variations</h2>\n<table "
                      "class=\"faults\">\n<thead><tr><th>variation</th><th>what it does</th><th>allowed by the "
                      "library contract</th><th>outcome</th><th>note</th></tr></thead>\n";
    for (const ControlRow& row : rows) {
        out += "<tr><td>" + code(row.variation) + "</td><td>" + htmlText(row.what) + "</td><td>"
            + htmlText(row.allowedBy) + "</td><td><span class=\"verdict "
            + cssClass(verdictWord(row.passed ? Verdict::Pass : Verdict::Fail)) + "\">" + htmlText(row.outcome)
            + "</span></td><td>" + htmlText(row.note) + "</td></tr>\n";
    }
    return out + "</table>\n</section>\n";
}

std::string strayLines(const RunRecord& run)
{
    std::string out;
    if (!run.strayFailures.empty())
        out += "<section class=\"sheet\"><h2>Failure lines outside any test</h2>\n"
            + lineList(run.strayFailures, "failures") + "</section>\n";
    if (!run.strayStderr.empty())
        out += "<section class=\"sheet\"><h2>Standard error outside any test</h2>\n<pre class=\"stderr\">"
            + htmlText(strayStderrText(run)) + "</pre></section>\n";
    return out;
}

// The column starts a library group after the first.
bool groupStart(const Grid& grid, size_t column)
{
    for (size_t g = 1; g < grid.groups.size(); ++g) {
        if (grid.groups[g].columns.front() == column) return true;
    }
    return false;
}

std::string groupHead(const LibraryGroup& group)
{
    const std::optional<LibraryFile>& library = group.library;
    std::string out = "<th class=\"group\" colspan=\"" + std::to_string(group.columns.size()) + "\">";
    if (!library) return out + "library unknown</th>";
    out += "library " + code(library->path) + "<br>sha256 " + code(shortDigest(library))
        + (library->read ? ", " + htmlText(sizeText(library->size)) : "")
        + (library->fileVersion.empty() ? "" : ", version " + htmlText(library->fileVersion));
    if (!replacedText(*library).empty())
        out += "<br><span class=\"replaced\">" + htmlText(replacedText(*library)) + "</span>";
    if (group.columns.size() > 1)
        out += "<br><span class=\"note\">" + std::to_string(group.columns.size()) + " runs of this file</span>";
    return out + "</th>";
}

std::string gridHead(const Grid& grid)
{
    std::string out = "<thead>\n<tr><th rowspan=\"2\">#</th><th rowspan=\"2\">test</th>";
    for (const LibraryGroup& group : grid.groups) out += groupHead(group);
    out += "</tr>\n<tr>";
    for (size_t column : grid.shown) {
        const ReadRun& read = *grid.columns[column];
        const RunRecord& run = read.record;
        out += std::string("<th class=\"run") + (groupStart(grid, column) ? " first" : "") + "\">"
            + (grid.baseline && column == 0 ? "<strong>baseline</strong><br>" : "") + htmlText(startText(run.started))
            + "<br>" + runBadge(run) + "<br><span class=\"note\">" + htmlText(run.bench)
            + (run.portSettings.empty() ? "" : ", settings " + code(run.portSettings)) + "<br>" + htmlText(read.file)
            + "</span></th>";
    }
    return out + "</tr>\n</thead>\n";
}

std::string gridCell(const Cell& cell, bool first)
{
    static const char* const classes[] = { "", " regression", " fix", " other-failure", " flaky" };
    static const char* const marks[] = { "", "regression", "fix", "other failure", "flaky" };
    int change = static_cast<int>(cell.change);
    std::string out = std::string("<td class=\"cell") + classes[change] + (first ? " first" : "") + "\">";
    if (cell.test == nullptr) return out + "<span class=\"note\">not in this run</span></td>";
    Verdict verdict = judgedVerdict(*cell.test);
    out += badge(verdict);
    if (cell.change != Change::none)
        out += "<span class=\"mark " + cssClass(marks[change]) + "\">" + marks[change] + "</span>";
    const TestRecord& result = cell.test->result;
    const std::vector<std::string>& why = result.failures.empty() ? result.findings : result.failures;
    if (verdict == Verdict::Fail && !why.empty()) out += "<code class=\"why\">" + htmlText(why.front()) + "</code>";
    return out + "</td>";
}

std::string gridBody(const Grid& grid)
{
    std::string out = "<tbody>\n";
    for (const GridRow& row : grid.rows) {
        std::string name = std::string(suiteTest(row.suite, row.number).name) + row.profile;
        out += "<tr><td class=\"number\">" + testLabel(row.suite, row.number) + "</td><td>" + htmlText(name) + "</td>";
        for (size_t column : grid.shown) out += gridCell(row.cells[column], groupStart(grid, column));
        out += "</tr>\n";
    }
    return out + "</tbody>\n";
}

// One row per bench: a page of hundreds of runs stays readable.
std::string benchTable(const Grid& grid)
{
    std::string out = "<section class=\"sheet\"><h2>Benches</h2>\n<table class=\"tests\"><thead><tr><th>bench</th>"
                      "<th>runs</th><th>passed</th><th>failed</th><th>broke off</th><th>regressions</th><th>fixes</th>"
                      "<th>flaky</th><th>last runs</th></tr></thead>\n";
    for (const BenchSummary& bench : grid.benches) {
        std::string last;
        for (size_t column : bench.lastRuns) last += runBadge(grid.columns[column]->record) + " ";
        out += "<tr><td>" + htmlText(bench.bench) + "</td>";
        for (unsigned count :
            { bench.runs, bench.passed, bench.failed, bench.brokeOff, bench.regressions, bench.fixes, bench.flaky })
            out += "<td class=\"number\">" + std::to_string(count) + "</td>";
        out += "<td>" + last + "</td></tr>\n";
    }
    return out + "</table>\n</section>\n";
}

} // namespace

std::string htmlPage(const std::string& title, const std::string& body)
{
    return "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\""
        + std::string(POLICY) + "\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
        + htmlText(title) + "</title>\n<style>\n" + SIGNOFF_PAGE_CSS + "</style>\n</head>\n<body>\n" + body
        + "</body>\n</html>\n";
}

// The report's text is the JUnit report's XML escaping of what a person
// can see; every attribute value on the page is in double quotes.
std::string htmlText(std::string_view text) { return xmlEscaped(visibleText(text), false); }

std::string htmlReport(const ReadRun& read)
{
    const RunRecord& run = read.record;
    bool virtualRun = run.mode == "virtual";
    std::string body
        = "<header>\n<h1>devbench sign-off " + runBadge(run) + "</h1>\n" + runFacts(run) + "</header>\n<main>\n";
    body += failedSummary(run) + strayLines(run) + faultTable(run) + controlTable(run);
    body += "<section class=\"sheet\"><h2>Tests</h2>\n<table class=\"tests\">\n<thead><tr><th>#</th><th>test</th>"
            "<th>verdict</th><th>time</th></tr></thead>\n";
    for (size_t i = 0; i < run.tests.size(); ++i) body += testRows(run.tests[i], i, virtualRun);
    body += "</table>\n";
    if (virtualRun)
        body += "<p class=\"note\">Jobs: what the virtual printer took during each test, against what the test "
                "sent.</p>\n";
    body += "</section>\n<p class=\"note\">From " + htmlText(read.file) + "</p>\n</main>\n";
    return htmlPage("devbench sign-off: " + std::string(verdictWord(runVerdict(run).verdict)) + partialText(run) + " — "
            + (run.library ? run.library->path : ""),
        body);
}

std::string htmlComparison(const std::vector<ReadRun>& runs, const ReadRun* baseline)
{
    Grid grid = compareRuns(runs, baseline);
    std::string counts = changeCounts(grid);
    std::string body = "<header>\n<h1>devbench comparison of " + std::to_string(grid.columns.size()) + " runs</h1>\n";
    body += "<p class=\"counts\" id=\"changes\"><strong>" + counts + "</strong><span class=\"note\">"
        + (grid.baseline ? "each run against the baseline"
                         : "each bench's runs by their start, each against the run of that bench before it")
        + ": a regression passed there and fails (or broke off) here, a fix is the reverse, an other failure fails "
          "in both for another reason, a flaky test passes and fails in turn under one library build; a matrix's "
          "caught fault passes</span></p>\n";
    body += "</header>\n<main>\n";
    if (grid.benches.size() > 1 || grid.shown.size() < grid.columns.size()) body += benchTable(grid);
    body += "<section class=\"sheet\">\n";
    if (grid.shown.size() < grid.columns.size())
        body += "<p class=\"note\">The last " + std::to_string(LAST_RUNS_PER_BENCH) + " runs of each bench, of "
            + std::to_string(grid.columns.size()) + ".</p>\n";
    body += "<table class=\"grid\">\n" + gridHead(grid) + gridBody(grid) + "</table>\n</section>\n</main>\n";
    return htmlPage("devbench comparison: " + counts, body);
}

} // namespace vpop::signoff
