#include "operator/run/table.h"

#include <stdio.h>

#include <algorithm>
#include <cctype>

#include "operator/record/paper_check.h"
#include "operator/record/verdict.h"

namespace vpop {

namespace {

// The operator's own finding, on the row of a test it failed, apart from
// devbench's failure lines.
std::string findingNote(const TestRecord& record)
{
    if (record.findings.empty()) return "";
    return "  " + std::string(findingHeadline(record.findings.front()));
}

// "PASS", "BROKE OFF", ...: the verdict, loud.
std::string shout(Verdict verdict)
{
    std::string word(verdictWord(verdict));
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
    return word;
}

} // namespace

void Table::head()
{
    if (!headed_) printf("\n%3s  %-38s %-9s %8s\n", "#", "test", "verdict", "time");
    headed_ = true;
}

void Table::printRow(const TestRecord& record)
{
    std::string verdict = shout(testVerdict(record));
    printf("%3s  %-38s %-9s %6.2f s%s\n", testLabel(record.suite, record.number).c_str(),
        std::string(suiteTest(record.suite, record.number).name).c_str(), verdict.c_str(), record.seconds(),
        findingNote(record).c_str());
}

void Table::row(const TestRecord& record)
{
    if (amidConsole_) {
        std::string verdict = shout(testVerdict(record));
        printf("vpoperator: %s: %s, %.2f s\n", testTitle(record.suite, record.number).c_str(), verdict.c_str(),
            record.seconds());
    } else {
        head();
        printRow(record);
    }
    fflush(stdout);
}

void Table::finish(const RunRecord& run, bool complete)
{
    unsigned passed = 0;
    for (const RecordedTest& test : run.tests) {
        const TestRecord& record = test.result;
        if (testVerdict(record) == Verdict::Pass) ++passed;
        if (!complete && record.finished && !amidConsole_) continue;
        head();
        printRow(record);
    }
    RunVerdict verdict = runVerdict(run);
    // A pass of some tests says nothing of the others: the line says so
    // where CI logs and people look.
    Coverage covered = coverage(run);
    std::string partial = covered.partial ? " (PARTIAL: " + std::to_string(covered.ran) + " of the suite's "
            + std::to_string(covered.suite) + " tests ran)"
                                          : "";
    printf("%u of %zu passed, total %.2f s: %s%s\n", passed, run.tests.size(), run.seconds,
        shout(verdict.verdict).c_str(), partial.c_str());
    bool headed = false;
    auto failureLine = [&](const std::string& where, const std::string& line) {
        if (!headed) printf("failure lines:\n");
        headed = true;
        printf("  %s: %s\n", where.c_str(), line.c_str());
    };
    auto more = [](uint64_t dropped) { return "(" + std::to_string(dropped) + " more failure lines not kept)"; };
    for (const RecordedTest& test : run.tests) {
        std::string label = testLabel(test.result.suite, test.result.number);
        for (const std::string& line : failureLinesWithAnswers(test.result)) failureLine(label, line);
    }
    for (const std::string& line : run.strayFailures) failureLine("outside any test", line);
    if (run.strayFailuresDropped > 0) failureLine("outside any test", more(run.strayFailuresDropped));
    bool findingsHeaded = false;
    for (const RecordedTest& test : run.tests) {
        const TestRecord& record = test.result;
        for (const std::string& finding : record.findings) {
            if (!findingsHeaded) printf("the operator's own findings:\n");
            findingsHeaded = true;
            printf("  %s: %s\n", testLabel(record.suite, record.number).c_str(), finding.c_str());
        }
    }
    fflush(stdout);
}

void printTable(const RunRecord& record)
{
    Table table;
    table.finish(record, true);
}

} // namespace vpop
