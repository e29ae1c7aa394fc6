#include "operator/run/faults.h"

#include <algorithm>

#include "operator/record/verdict.h"

namespace vpop {

Judgement judge(const FaultCase& fault, const RunOutcome& outcome)
{
    Judgement judgement;
    if (!outcome.broken.empty()) {
        judgement.note = "run broke off: " + outcome.broken;
        return judgement;
    }
    std::string others;
    bool expectedSeen = false;
    for (const TestRecord& record : outcome.records) {
        if (record.number != fault.expectedTest) {
            if (Verdict verdict = testVerdict(record); verdict != Verdict::Pass) {
                others += " " + std::to_string(record.number) + " " + std::string(verdictWord(verdict));
                for (const std::string& line : record.failures) others += " (" + line + ")";
                for (const std::string& finding : record.findings) others += " (" + finding + ")";
            }
            continue;
        }
        expectedSeen = true;
        if (printsExpectedFailure(fault, record)) {
            judgement.caught = true;
        } else if (!record.failures.empty() || !record.findings.empty()) {
            judgement.note
                = "other failure: " + (record.failures.empty() ? record.findings.front() : record.failures.front());
        } else {
            judgement.note
                = "test " + std::to_string(record.number) + " " + std::string(verdictWord(testVerdict(record)));
        }
    }
    if (!expectedSeen) judgement.note = "test " + std::to_string(fault.expectedTest) + " did not run";
    if (!outcome.strayFailures.empty()) others += " failure outside any test (" + outcome.strayFailures[0] + ")";
    if (!others.empty()) {
        // A fault caught along with unrelated damage is not the clean catch
        // the catalogue promises.
        judgement.caught = false;
        judgement.note += (judgement.note.empty() ? "" : "; ") + std::string("also changed:") + others;
    }
    return judgement;
}

std::string combinedSettings(const std::string& settings, std::string_view librarySetting)
{
    if (librarySetting.empty()) return settings;
    if (settings.empty()) return std::string(librarySetting);
    return settings + "," + std::string(librarySetting);
}

} // namespace vpop
