#include "operator/record/records.h"

#include <iomanip>
#include <sstream>

#include "operator/platform/host.h"
#include "operator/run/firmware_name.h"

namespace vpop {

namespace {

const unsigned testReadNumber = 6;

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

std::optional<std::string> printerFirmware(const RunRecord& record)
{
    for (const RecordedTest& test : record.tests) {
        if (test.result.number != testReadNumber) continue;
        if (std::optional<std::string> name = firmwareName(test.result.console)) return name;
    }
    return std::nullopt;
}

std::optional<RecordTime> recordMoment(const std::string& text)
{
    std::tm fields {};
    std::istringstream in(text);
    in >> std::get_time(&fields, "%Y-%m-%dT%H:%M:%S");
    if (in.fail() || in.get() != 'Z' || in.peek() != std::char_traits<char>::eof() || text.size() != 20)
        return std::nullopt;
    std::tm normalised = fields;
    time_t seconds = utcSeconds(&normalised);
    // A day past its month's end moves into the next month.
    if (normalised.tm_mday != fields.tm_mday) return std::nullopt;
    return RecordTime(std::chrono::seconds(seconds));
}

void addRun(RunRecord& record, const RunOutcome& outcome, const std::vector<MenuChoice>& plan)
{
    if (record.portName.empty()) record.portName = outcome.portName;
    if (!record.library) record.library = outcome.library;
    if (record.brokeOff.empty()) record.brokeOff = outcome.broken;
    record.seconds += outcome.seconds;
    record.strayFailures.insert(record.strayFailures.end(), outcome.strayFailures.begin(), outcome.strayFailures.end());
    record.strayFailuresDropped += outcome.strayFailuresDropped;
    std::vector<TestRecord> results = outcome.records;
    // A run that never reached its dialogue has no session's records.
    if (results.empty()) {
        for (const MenuChoice& choice : plan) {
            for (unsigned test : choice.tests) {
                results.emplace_back();
                results.back().number = test;
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

void addFaultRun(RunRecord& record, const RunOutcome& outcome, const FaultCase& fault, const Judgement& judgement)
{
    size_t first = record.tests.size();
    RunRecord run;
    addRun(run, outcome, { { "", fault.tests } });
    record.seconds += run.seconds;
    record.strayFailures.insert(record.strayFailures.end(), run.strayFailures.begin(), run.strayFailures.end());
    if (record.brokeOff.empty() && !run.brokeOff.empty())
        record.brokeOff = std::string(fault.fault) + ": " + run.brokeOff;
    record.tests.insert(record.tests.end(), run.tests.begin(), run.tests.end());
    for (size_t i = first; i < record.tests.size(); ++i) {
        RecordedTest& test = record.tests[i];
        test.fault = fault.fault;
        if (test.result.suite != fault.suite || test.result.number != fault.expectedTest) continue;
        test.expectedFailure = fault.expectedLine;
        test.expectedSeen = printsExpectedFailure(fault, test.result);
    }
    record.faults.push_back(
        { std::string(fault.fault), fault.expectedTest, judgement.caught, judgement.note, run.seconds });
}

} // namespace vpop
