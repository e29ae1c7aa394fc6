#include "operator/run/run_record.h"

#include "operator/record/verdict.h"

namespace vpop {

namespace {

// Each test that did not end in order gets its own reason: the one that
// broke off the run's, a test never started only that it was not.
std::string whyNotEnded(const TestRecord& result, const RunOutcome& outcome)
{
    if (result.finished) return "";
    if (result.bannerSeen) return outcome.broken.empty() ? "devbench did not come back after it" : outcome.broken;
    if (outcome.setupFailed) return "not run: the run could not start: " + outcome.broken;
    if (!outcome.broken.empty()) return "not run: the run broke off before it started";
    return "not run: devbench did not start it";
}

} // namespace

void addRun(RunRecord& record, const RunOutcome& outcome, const std::vector<MenuChoice>& plan,
    const std::vector<MenuChoice>& extendedPlan)
{
    if (record.portName.empty()) record.portName = outcome.portName;
    if (!record.library) record.library = outcome.library;
    if (record.brokeOff.empty()) record.brokeOff = outcome.broken;
    record.seconds += outcome.seconds;
    record.strayFailures.insert(record.strayFailures.end(), outcome.strayFailures.begin(), outcome.strayFailures.end());
    record.strayFailuresDropped += outcome.strayFailuresDropped;
    keepBounded(record.strayStderr, record.strayStderrDropped, outcome.strayStderr);
    record.strayStderrDropped += outcome.strayStderrDropped;
    std::vector<TestRecord> results = outcome.records;
    // A run that never reached its dialogue has no session's records.
    if (results.empty()) {
        for (Suite suite : { Suite::Devbench, Suite::Extended }) {
            for (const MenuChoice& choice : suite == Suite::Devbench ? plan : extendedPlan) {
                for (unsigned test : choice.tests) {
                    results.emplace_back();
                    results.back().suite = suite;
                    results.back().number = test;
                }
            }
        }
    }
    for (const TestRecord& result : results) {
        RecordedTest test;
        test.result = result;
        test.why = whyNotEnded(result, outcome);
        record.tests.push_back(test);
    }
}

namespace {

// The failure line a profile's run is to show, and in which test.
struct ExpectedLine {
    Suite suite;
    unsigned test;
    std::string_view line;
};

// One run of the matrix under `profile`: its tests of both programs join
// the record's, the expected test with its line (none when that is empty);
// its time.
double addProfileRun(RunRecord& record, const RunOutcome& outcome, const ProfileTests& tests, std::string_view profile,
    ExpectedLine expected)
{
    size_t first = record.tests.size();
    RunRecord run;
    addRun(run, outcome, { { "", tests.devbench } }, { { "", tests.extended } });
    record.seconds += run.seconds;
    record.strayFailures.insert(record.strayFailures.end(), run.strayFailures.begin(), run.strayFailures.end());
    if (record.brokeOff.empty() && !run.brokeOff.empty()) record.brokeOff = std::string(profile) + ": " + run.brokeOff;
    record.tests.insert(record.tests.end(), run.tests.begin(), run.tests.end());
    for (size_t i = first; i < record.tests.size(); ++i) {
        RecordedTest& test = record.tests[i];
        if (!expected.line.empty() && test.result.suite == expected.suite && test.result.number == expected.test)
            test.expectedFailure = expected.line;
    }
    return run.seconds;
}

} // namespace

void addFaultRun(RunRecord& record, const RunOutcome& outcome, const FaultCase& fault, const std::string& note)
{
    size_t first = record.tests.size();
    double seconds = addProfileRun(
        record, outcome, faultTests(fault), fault.fault, { fault.suite, fault.expectedTest, fault.expectedLine });
    for (size_t i = first; i < record.tests.size(); ++i) record.tests[i].fault = fault.fault;
    record.faults.push_back({ std::string(fault.fault), fault.expectedTest, false, note, seconds, fault.suite });
    deriveJudgements(record);
}

void addVariationRun(
    RunRecord& record, const RunOutcome& outcome, const VariationCase& variation, const std::string& note)
{
    size_t first = record.tests.size();
    double seconds
        = addProfileRun(record, outcome, variationTests(variation), variation.variation, { Suite::Devbench, 0, "" });
    for (size_t i = first; i < record.tests.size(); ++i) record.tests[i].variation = variation.variation;
    record.variations.push_back({ std::string(variation.variation), std::string(variation.what),
        std::string(variation.allowedBy), false, note, seconds });
    deriveJudgements(record);
}

} // namespace vpop
