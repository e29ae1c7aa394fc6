#include "operator/report.h"

#include <stdio.h>

#include "operator/paper_check.h"

namespace vpop {

namespace {

// The operator's own finding, on the row of a test it failed, apart from
// devbench's failure lines.
std::string findingNote(const TestRecord& record)
{
    if (record.findings.empty()) return "";
    return "  " + std::string(findingHeadline(record.findings.front()));
}

} // namespace

bool RunOutcome::passed() const
{
    if (!broken.empty() || !strayFailures.empty() || records.empty()) return false;
    for (const TestRecord& record : records) {
        if (!record.passed()) return false;
    }
    return true;
}

void Table::head()
{
    if (!headed_) printf("\n%3s  %-38s %-8s %8s\n", "#", "test", "verdict", "time");
    headed_ = true;
}

void Table::printRow(const TestRecord& record)
{
    std::string verdict(record.verdict());
    printf("%3u  %-38s %-8s %6.2f s%s\n", record.number, std::string(suiteTests()[record.number].name).c_str(),
        verdict.c_str(), record.seconds(), findingNote(record).c_str());
}

void Table::row(const TestRecord& record)
{
    if (amidConsole_) {
        std::string verdict(record.verdict());
        printf("vpoperator: %u %s: %s, %.2f s\n", record.number, std::string(suiteTests()[record.number].name).c_str(),
            verdict.c_str(), record.seconds());
    } else {
        head();
        printRow(record);
    }
    fflush(stdout);
}

void Table::finish(const RunOutcome& outcome, bool complete)
{
    unsigned passed = 0;
    for (const TestRecord& record : outcome.records) {
        if (record.passed()) ++passed;
        if (!complete && record.finished && !amidConsole_) continue;
        head();
        printRow(record);
    }
    printf("%u of %zu passed, total %.2f s\n", passed, outcome.records.size(), outcome.seconds);
    bool headed = false;
    auto failureLine = [&](const std::string& where, const std::string& line) {
        if (!headed) printf("failure lines:\n");
        headed = true;
        printf("  %s: %s\n", where.c_str(), line.c_str());
    };
    for (const TestRecord& record : outcome.records) {
        for (const std::string& line : record.failures) failureLine(std::to_string(record.number), line);
    }
    for (const std::string& line : outcome.strayFailures) failureLine("outside any test", line);
    bool findingsHeaded = false;
    for (const TestRecord& record : outcome.records) {
        for (const std::string& finding : record.findings) {
            if (!findingsHeaded) printf("the operator's own findings:\n");
            findingsHeaded = true;
            printf("  %u: %s\n", record.number, finding.c_str());
        }
    }
    fflush(stdout);
}

void printReport(const RunOutcome& outcome)
{
    Table table;
    table.finish(outcome, true);
}

} // namespace vpop
