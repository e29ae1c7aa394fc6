#include "operator/record/verdict.h"

#include <algorithm>
#include <vector>

#include "operator/record/paper_check.h"

namespace vpop {

namespace {

// The text of a failure line after "failure: line(N) ".
std::string_view failureText(std::string_view line)
{
    size_t close = line.find(") ");
    return close == std::string_view::npos ? line : line.substr(close + 2);
}

std::string testNamed(const TestRecord& record) { return "test " + testTitle(record.suite, record.number); }

// A matrix passes when the healthy run passed, every fault was caught and
// every control (a healthy variation) passed every test; the expected
// tests' own verdicts are then `fail`, as they should be.
RunVerdict matrixVerdict(const RunRecord& record)
{
    for (const RecordedTest& test : record.tests) {
        Verdict verdict = testVerdict(test.result);
        if (verdict == Verdict::Pass || !test.fault.empty()) continue;
        std::string failed = testNamed(test.result) + " " + std::string(verdictWord(verdict));
        if (test.variation.empty()) return { Verdict::Fail, "the healthy run: " + failed };
        // A library the contract allows failed: the suite's fault.
        return { Verdict::Fail, "a false failure: under the healthy variation " + test.variation + ", " + failed };
    }
    for (const FaultResult& fault : record.faults) {
        if (!fault.caught) return { Verdict::Fail, "fault " + fault.fault + " not caught: " + fault.note };
    }
    for (const VariationResult& variation : record.variations) {
        if (!variation.passed)
            return { Verdict::Fail,
                "control " + variation.variation
                    + " not passed: " + (variation.note.empty() ? "none of its tests ran" : variation.note) };
    }
    return { Verdict::Pass, "" };
}

} // namespace

std::string_view verdictWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "fail";
    case Verdict::BrokeOff:
        return "broke off";
    case Verdict::NotRun:
        return "not run";
    }
    return "fail";
}

bool verdictOfWord(std::string_view word, Verdict* verdict)
{
    for (Verdict known : { Verdict::Pass, Verdict::Fail, Verdict::BrokeOff, Verdict::NotRun }) {
        if (word != verdictWord(known)) continue;
        *verdict = known;
        return true;
    }
    return false;
}

Verdict testVerdict(const TestRecord& record)
{
    if (!record.bannerSeen) return Verdict::NotRun;
    if (!record.failures.empty() || record.failuresDropped > 0 || !record.findings.empty()) return Verdict::Fail;
    if (record.paperChecked && record.paper && !comparePaper(record.number, *record.paper).empty())
        return Verdict::Fail;
    return record.finished ? Verdict::Pass : Verdict::BrokeOff;
}

bool showsExpected(std::string_view expected, const TestRecord& record)
{
    if (expected.substr(0, findingPrefix.size()) == findingPrefix) {
        return std::any_of(record.findings.begin(), record.findings.end(),
            [&](const std::string& finding) { return findingHeadline(finding) == expected; });
    }
    return std::any_of(record.failures.begin(), record.failures.end(),
        [&](const std::string& line) { return failureText(line) == expected; });
}

bool expectationMet(
    const RunRecord& record, std::string_view profile, std::optional<unsigned> failingTest, Suite failingSuite)
{
    // A run that broke off proves nothing of the tests it did not finish.
    if (record.brokeOff.rfind(std::string(profile) + ": ", 0) == 0) return false;
    bool ran = false;
    bool failingRan = false;
    for (const RecordedTest& test : record.tests) {
        if (profileOf(test) != profile) continue;
        ran = true;
        if (judgedVerdict(test) != Verdict::Pass) return false;
        failingRan |= failingTest && test.result.suite == failingSuite && test.result.number == *failingTest
            && !test.expectedFailure.empty();
    }
    return ran && (!failingTest || failingRan);
}

void deriveJudgements(RunRecord& record)
{
    for (RecordedTest& test : record.tests)
        test.expectedSeen = !test.expectedFailure.empty() && showsExpected(test.expectedFailure, test.result);
    for (FaultResult& fault : record.faults)
        fault.caught = expectationMet(record, fault.fault, fault.expectedTest, fault.suite);
    for (VariationResult& variation : record.variations)
        variation.passed = expectationMet(record, variation.variation, std::nullopt);
}

Verdict judgedVerdict(const RecordedTest& test)
{
    Verdict verdict = testVerdict(test.result);
    if (test.expectedFailure.empty()) return verdict;
    if (test.expectedSeen) return Verdict::Pass;
    return verdict == Verdict::Pass ? Verdict::Fail : verdict;
}

Coverage coverage(const RunRecord& record)
{
    Coverage coverage;
    coverage.suite = static_cast<unsigned>(suiteTests().size());
    std::vector<bool> ran(coverage.suite);
    for (const RecordedTest& test : record.tests) {
        unsigned number = test.result.number;
        // devbench-extended's procedures add to the sign-off; they are not part of it.
        if (test.result.suite != Suite::Devbench) continue;
        if (number >= coverage.suite || ran[number] || testVerdict(test.result) == Verdict::NotRun) continue;
        ran[number] = true;
        ++coverage.ran;
    }
    coverage.partial = !record.matrix && coverage.ran < coverage.suite;
    return coverage;
}

RecordCounts recordCounts(const RunRecord& record)
{
    RecordCounts counts;
    for (const RecordedTest& test : record.tests) {
        Verdict verdict = testVerdict(test.result);
        counts.passed += verdict == Verdict::Pass;
        counts.failed += verdict == Verdict::Fail || verdict == Verdict::BrokeOff;
        counts.notRun += verdict == Verdict::NotRun;
    }
    return counts;
}

RunVerdict runVerdict(const RunRecord& record)
{
    if (!record.brokeOff.empty()) return { Verdict::BrokeOff, record.brokeOff };
    if (!record.strayFailures.empty())
        return { Verdict::Fail, "a failure line outside any test: " + record.strayFailures.front() };
    if (record.tests.empty()) return { Verdict::Fail, "no test was planned" };
    if (record.matrix) return matrixVerdict(record);
    for (const RecordedTest& test : record.tests) {
        Verdict verdict = testVerdict(test.result);
        if (verdict == Verdict::Pass) continue;
        return { verdict == Verdict::BrokeOff ? verdict : Verdict::Fail,
            testNamed(test.result) + " " + std::string(verdictWord(verdict)) };
    }
    return { Verdict::Pass, "" };
}

std::string_view variationOutcome(const VariationResult& variation)
{
    return variation.passed ? "passed" : "false failure";
}

int exitStatus(const RunVerdict& verdict) { return verdict.verdict == Verdict::Pass ? 0 : 1; }

} // namespace vpop
