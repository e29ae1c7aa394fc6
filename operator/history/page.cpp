#include "operator/history/page.h"

#include <map>
#include <set>

#include "operator/history/queries.h"
#include "operator/report/content.h"
#include "operator/report/html.h"
#include "operator/run/session.h"

namespace vpop::history {

namespace {

using signoff::htmlText;

// A run's anchor: its identity, in the characters an id and a link keep.
std::string anchor(const std::string& runId)
{
    std::string out = "run-";
    for (char c : runId) out += isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return out;
}

std::string buildName(const RunRef& run)
{
    if (!run.build.empty()) return run.build;
    return run.sha256.empty() ? "unknown build" : run.sha256.substr(0, 12);
}

const char* symbol(const std::string& verdict)
{
    return verdict == "pass" ? "✓" : verdict == "fail" ? "✗" : verdict == "broke off" ? "!" : "·";
}

// What the page marks: tests flaky under a build, and the run whose failure
// began each spell of failing, as the questions find them.
struct Marks {
    std::set<std::tuple<std::string, unsigned, std::string>> flaky;
    std::set<std::pair<unsigned, std::string>> firstFailures;
};

bool findMarks(
    Connection& store, const std::string& bench, const std::vector<RunTests>& runs, Marks* marks, std::string* error)
{
    std::vector<FlakyTest> flaky;
    if (!flakyTests(store, bench, &flaky, error)) return false;
    for (const FlakyTest& test : flaky) marks->flaky.insert({ test.bench, test.test, test.buildKey });
    // Each bench's runs of each test, in time order, for the one rule of
    // where a spell of failing begins.
    std::map<std::pair<std::string, unsigned>, std::vector<TestRun>> histories;
    for (const RunTests& run : runs) {
        for (const RunTests::Test& test : run.tests)
            histories[{ run.run.bench, test.number }].push_back(
                { run.run, run.buildKey, test.verdict, test.firstLine });
    }
    for (const auto& [key, history] : histories) {
        for (const FailureSpell& spell : failureSpells(history))
            marks->firstFailures.insert({ key.second, spell.first.run.runId });
    }
    return true;
}

// The builds of one bench in the order it first ran them, each with its runs.
using Builds = std::vector<std::pair<std::string, std::vector<const RunTests*>>>;

Builds buildsOf(const std::vector<const RunTests*>& runs)
{
    Builds builds;
    std::map<std::string, size_t> at;
    for (const RunTests* run : runs) {
        auto [found, fresh] = at.emplace(run->buildKey, builds.size());
        if (fresh) builds.push_back({ run->buildKey, {} });
        builds[found->second].second.push_back(run);
    }
    return builds;
}

std::string cell(const Builds::value_type& build, unsigned number, const std::string& bench, const Marks& marks)
{
    std::string links;
    bool first = false;
    for (const RunTests* run : build.second) {
        for (const RunTests::Test& test : run->tests) {
            if (test.number != number) continue;
            bool starts = marks.firstFailures.count({ number, run->run.runId }) > 0;
            first = first || starts;
            links += "<a class=\"v " + signoff::cssClass(test.verdict) + (starts ? " first" : "") + "\" href=\"#"
                + anchor(run->run.runId) + "\" title=\""
                + htmlText(run->run.started + " " + test.verdict + (starts ? ", first failure" : "")) + "\">"
                + symbol(test.verdict) + "</a>";
        }
    }
    bool flaky = marks.flaky.count({ bench, number, build.first }) > 0;
    std::string classes = std::string(flaky ? " flaky" : "") + (first ? " first-failure" : "");
    return "<td class=\"c" + classes + "\">" + links + "</td>";
}

std::string benchSection(const std::string& bench, const std::vector<const RunTests*>& runs, const Marks& marks)
{
    Builds builds = buildsOf(runs);
    std::string out = "<section class=\"sheet\" id=\"bench-" + htmlText(anchor(bench).substr(4)) + "\">\n<h2>"
        + htmlText(bench) + ": " + std::to_string(runs.size()) + " runs of " + std::to_string(builds.size())
        + " builds</h2>\n<table class=\"history\">\n<thead><tr><th>test</th>";
    for (const auto& build : builds)
        out += "<th class=\"build\" title=\"" + htmlText(build.second.front()->run.started) + "\">"
            + htmlText(buildName(build.second.front()->run)) + "</th>";
    out += "</tr></thead>\n<tbody>\n";
    for (unsigned number = 0; number < suiteTests().size(); ++number) {
        out += "<tr><th>" + std::to_string(number) + " " + htmlText(suiteTests()[number].name) + "</th>";
        for (const auto& build : builds) out += cell(build, number, bench, marks);
        out += "</tr>\n";
    }
    return out + "</tbody>\n</table>\n</section>\n";
}

std::string fact(const std::string& name, const std::string& value)
{
    return value.empty() ? "" : "<dt>" + htmlText(name) + "</dt><dd>" + htmlText(value) + "</dd>";
}

// A run's sign-off: what it tried and how it ended, what failed and with what.
std::string runSection(const RunTests& run)
{
    std::string out = "<article class=\"run\" id=\"" + anchor(run.run.runId) + "\"><h3>" + htmlText(run.run.bench)
        + " · " + htmlText(signoff::startText(run.run.started)) + " · " + htmlText(buildName(run.run))
        + " <span class=\"verdict " + signoff::cssClass(run.run.verdict) + "\">" + htmlText(run.run.verdict) + "</span>"
        + (run.partial ? "<span class=\"mark partial\">partial</span>" : "") + "</h3>\n<dl class=\"facts\">";
    out += fact("build", run.run.build) + fact("SHA-256", run.run.sha256) + fact("by", run.by) + fact("note", run.note)
        + fact("why", run.why) + fact("host", run.host) + fact("devbench", run.devbench)
        + fact("finished", run.finished) + fact("run", run.run.runId) + "</dl>\n";
    std::string failed;
    for (const RunTests::Test& test : run.tests) {
        if (test.verdict == "pass" || test.verdict == "not run") continue;
        failed += "<li>" + std::to_string(test.number) + " " + htmlText(suiteTests()[test.number].name) + ": "
            + htmlText(test.verdict) + (test.firstLine.empty() ? "" : " <code>" + htmlText(test.firstLine) + "</code>")
            + "</li>";
    }
    if (!failed.empty()) out += "<ul class=\"failed\">" + failed + "</ul>\n";
    return out + "</article>\n";
}

const char LEGEND[] = "<p class=\"note\">Each cell holds the runs of a build at the bench, oldest first: "
                      "✓ pass, ✗ fail, ! broke off, · not run; each links to its run below. "
                      "<span class=\"legend first-failure\">outlined</span>: the run whose failure began a spell "
                      "of failing; <span class=\"legend flaky\">striped</span>: the test passed and failed under "
                      "that build.</p>\n";

} // namespace

bool historyPage(Connection& store, const std::string& bench, std::string* html, std::string* error)
{
    std::vector<RunTests> runs;
    Marks marks;
    if (!benchRuns(store, bench, &runs, error) || !findMarks(store, bench, runs, &marks, error)) return false;
    std::string body = "<header><h1>devbench history</h1><p>" + std::to_string(runs.size()) + " runs at "
        + htmlText(bench.empty() ? "every bench" : "bench " + bench) + " (a fault matrix's runs are not shown)</p>";
    std::string sections, signoffs;
    for (size_t from = 0, to = 0; from < runs.size(); from = to) {
        std::vector<const RunTests*> one;
        while (to < runs.size() && runs[to].run.bench == runs[from].run.bench) one.push_back(&runs[to++]);
        body += "<a href=\"#bench-" + htmlText(anchor(runs[from].run.bench).substr(4)) + "\">"
            + htmlText(runs[from].run.bench) + "</a> ";
        sections += benchSection(runs[from].run.bench, one, marks);
    }
    for (const RunTests& run : runs) signoffs += runSection(run);
    body += "</header>\n<main>\n" + std::string(LEGEND) + sections + "<section class=\"sheet\"><h2>runs</h2>\n"
        + signoffs + "</section>\n</main>\n";
    *html = signoff::htmlPage("devbench history", body);
    return true;
}

} // namespace vpop::history
