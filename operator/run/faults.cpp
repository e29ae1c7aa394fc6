#include "operator/run/faults.h"

#include <algorithm>

#include "operator/record/verdict.h"
#include "operator/run/run_record.h"

namespace vpop {

namespace {

// " 3 fail (failure: line(..) ...)": a test that did not pass, as a note says it.
std::string notPassed(const TestRecord& record)
{
    std::string text = " " + std::to_string(record.number) + " " + std::string(verdictWord(testVerdict(record)));
    for (const std::string& line : record.failures) text += " (" + line + ")";
    for (const std::string& finding : record.findings) text += " (" + finding + ")";
    return text;
}

} // namespace

// Whether it was caught is the record's own judgement (deriveJudgements);
// the note says why not, or what else changed.
Judgement judge(const FaultCase& fault, const RunOutcome& outcome)
{
    Judgement judgement;
    RunRecord run;
    addFaultRun(run, outcome, fault, "");
    judgement.met = run.faults.back().caught;
    if (!outcome.broken.empty()) {
        judgement.note = "run broke off: " + outcome.broken;
        return judgement;
    }
    std::string others;
    bool expectedRan = false;
    for (const TestRecord& record : outcome.records) {
        Verdict verdict = testVerdict(record);
        if (record.suite != fault.suite || record.number != fault.expectedTest) {
            if (verdict != Verdict::Pass) others += notPassed(record);
            continue;
        }
        expectedRan = true;
        if (printsExpectedFailure(fault, record)) continue;
        if (!record.failures.empty() || !record.findings.empty()) {
            judgement.note
                = "other failure: " + (record.failures.empty() ? record.findings.front() : record.failures.front());
        } else {
            judgement.note = "test " + testLabel(record.suite, record.number) + " " + std::string(verdictWord(verdict));
        }
    }
    if (!expectedRan) judgement.note = "test " + testLabel(fault.suite, fault.expectedTest) + " did not run";
    if (!outcome.strayFailures.empty()) others += " failure outside any test (" + outcome.strayFailures[0] + ")";
    if (!others.empty()) judgement.note += (judgement.note.empty() ? "" : "; ") + std::string("also changed:") + others;
    return judgement;
}

Judgement judge(const VariationCase& variation, const RunOutcome& outcome)
{
    Judgement judgement;
    RunRecord run;
    addVariationRun(run, outcome, variation, "");
    judgement.met = run.variations.back().passed;
    if (!outcome.broken.empty()) {
        judgement.note = "run broke off: " + outcome.broken;
        return judgement;
    }
    std::string failed;
    for (const TestRecord& record : outcome.records) {
        if (testVerdict(record) != Verdict::Pass) failed += notPassed(record);
    }
    if (!outcome.strayFailures.empty()) failed += " failure outside any test (" + outcome.strayFailures[0] + ")";
    if (!failed.empty()) judgement.note = "did not pass:" + failed;
    return judgement;
}

std::string combinedSettings(const std::string& settings, std::string_view librarySetting)
{
    if (librarySetting.empty()) return settings;
    if (settings.empty()) return std::string(librarySetting);
    return settings + "," + std::string(librarySetting);
}

} // namespace vpop
