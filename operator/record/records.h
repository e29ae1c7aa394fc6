// The record of a run, as the JSON record and the JUnit report show it (see
// docs/records.md): every planned test, what each did, and what happened
// around them.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "operator/record/library_identity.h"
#include "operator/run/faults.h"
#include "operator/run/run.h"
#include "operator/run/session.h"
#include "operator/run/variations.h"

namespace vpop {

struct RecordedTest {
    TestRecord result;
    // Why it broke off or never ran; empty for a test that ended in order.
    std::string why;
    // Fault matrix only: the fault or the healthy variation it ran under
    // (both empty for the healthy run), the failure line the catalogue
    // expects of it (empty when it must pass; under a variation, its known
    // false failure) and whether that line came.
    std::string fault;
    std::string variation;
    std::string expectedFailure;
    bool expectedSeen = false;
};

struct FaultResult {
    std::string fault;
    unsigned expectedTest = 0;
    bool caught = false;
    std::string note;
    double seconds = 0;
};

// A healthy variation of the matrix: what it does, the contract's words that
// allow it, and whether the suite passed it.
struct VariationResult {
    std::string variation;
    std::string what;
    std::string allowedBy;
    // Every test passed, or failed only as its known false failure says.
    bool asExpected = false;
    // It has a known false failure (in knownTest, with knownLine).
    bool knownFalseFailure = false;
    unsigned knownTest = 0;
    std::string knownLine;
    std::string note;
    double seconds = 0;
};

struct RunRecord {
    std::string started;
    std::string finished;
    std::string host;
    // The bench's name in reports that merge several benches (--bench; the
    // host name by default).
    std::string bench;
    std::string portName;
    std::string portSettings;
    std::string mode;
    // The library devbench loaded, read from its process; none when that
    // could not be read.
    std::optional<LibraryFile> library;
    // Windows: the 32-bit library holdprobe loads, and the calling
    // convention the package was built for.
    std::optional<LibraryFile> probeLibrary;
    std::string callingConvention;
    std::string devbench;
    std::vector<RecordedTest> tests;
    std::vector<std::string> strayFailures;
    uint64_t strayFailuresDropped = 0;
    std::string brokeOff;
    double seconds = 0;
    bool matrix = false;
    std::vector<FaultResult> faults;
    std::vector<VariationResult> variations;
};

std::optional<std::string> printerFirmware(const RunRecord& record);

// A record's times are to the second; held in seconds, any year a record
// may name fits.
using RecordTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::seconds>;

// The moment a record's UTC time ("2026-12-08T02:06:45Z", as `started` and
// `finished` hold it) names; none for any other text, a day that does not
// exist included.
std::optional<RecordTime> recordMoment(const std::string& text);

// A run's tests: every planned one, run or not.
void addRun(RunRecord& record, const RunOutcome& outcome, const std::vector<MenuChoice>& plan);
void addFaultRun(RunRecord& record, const RunOutcome& outcome, const FaultCase& fault, const Judgement& judgement);
void addVariationRun(
    RunRecord& record, const RunOutcome& outcome, const VariationCase& variation, const VariationJudgement& judgement);

// " (fault stall-status:300)", " (variation read-limit:1)" or "": what a
// matrix's test ran under, after its name.
std::string profileText(const RecordedTest& test);

} // namespace vpop
