#include "operator/record/verdict.h"

#include <vector>

namespace vpop {

namespace {

std::string testNamed(const TestRecord& record)
{
    return "test " + std::to_string(record.number) + " " + std::string(suiteTests()[record.number].name);
}

// A matrix passes when the healthy run passed, every fault was caught and
// every healthy variation passed (or failed only as its known false failure
// says); the expected tests' own verdicts are then `fail`, as they should be.
RunVerdict matrixVerdict(const RunRecord& record)
{
    for (const RecordedTest& test : record.tests) {
        Verdict verdict = testVerdict(test.result);
        if (test.fault.empty() && test.variation.empty() && verdict != Verdict::Pass)
            return { Verdict::Fail,
                "the healthy run: " + testNamed(test.result) + " " + std::string(verdictWord(verdict)) };
        if (test.variation.empty() || judgedVerdict(test) == Verdict::Pass) continue;
        if (verdict == Verdict::Pass)
            return { Verdict::Fail,
                "variation " + test.variation + ": " + testNamed(test.result)
                    + " passes now, so its mark as a known false failure must go" };
        return { Verdict::Fail,
            "a false failure: under the healthy variation " + test.variation + ", " + testNamed(test.result) + " "
                + std::string(verdictWord(verdict)) };
    }
    for (const FaultResult& fault : record.faults) {
        if (!fault.caught) return { Verdict::Fail, "fault " + fault.fault + " not caught: " + fault.note };
    }
    for (const VariationResult& variation : record.variations) {
        if (!variation.asExpected) return { Verdict::Fail, "variation " + variation.variation + ": " + variation.note };
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
    if (!record.failures.empty() || !record.findings.empty()) return Verdict::Fail;
    return record.finished ? Verdict::Pass : Verdict::BrokeOff;
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
        if (number >= coverage.suite || ran[number] || testVerdict(test.result) == Verdict::NotRun) continue;
        ran[number] = true;
        ++coverage.ran;
    }
    coverage.partial = !record.matrix && coverage.ran < coverage.suite;
    return coverage;
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
    if (!variation.asExpected) return "false failure";
    return variation.knownFalseFailure ? "known false failure" : "passed";
}

int exitStatus(const RunVerdict& verdict) { return verdict.verdict == Verdict::Pass ? 0 : 1; }

} // namespace vpop
