// The record of a run, as the JSON record and the JUnit report show it (see
// docs/records.md): every planned test, what each did, and what happened
// around them.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "operator/record/library_identity.h"
#include "operator/record/test_record.h"

namespace vpop {

struct RecordedTest {
    TestRecord result;
    // Why it broke off or never ran; empty for a test that ended in order.
    std::string why;
    // Fault matrix only: the fault or the healthy variation it ran under
    // (both empty for the healthy run), the failure line the catalogue
    // expects of it (empty when it must pass) and whether that line came.
    std::string fault;
    std::string variation;
    std::string expectedFailure;
    bool expectedSeen = false;
};

struct FaultResult {
    std::string fault;
    // The test expected to catch it, numbered in its suite's menu.
    unsigned expectedTest = 0;
    bool caught = false;
    std::string note;
    double seconds = 0;
    Suite suite = Suite::Devbench;
};

// A control of the matrix, a healthy variation of the library: what it
// does, the contract's words that allow it, and whether every test passed
// under it (derived from its tests, as a fault's `caught` is).
struct VariationResult {
    std::string variation;
    std::string what;
    std::string allowedBy;
    bool passed = false;
    std::string note;
    double seconds = 0;
};

struct RunRecord {
    // What two copies of one run share and two runs never do: made when the
    // run starts (a record of an older schema: the digest of its content).
    std::string runId;
    std::string started;
    std::string finished;
    std::string host;
    // The bench's name in reports that merge several benches (--bench; the
    // host name by default).
    std::string bench;
    // The labels a lab finds runs by: the library build's name as its maker
    // knows it (--build), the technician (--by), a note (--note).
    std::string build;
    std::string by;
    std::string note;
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
    // What devbench wrote on standard error outside every test, bounded.
    std::string strayStderr;
    uint64_t strayStderrDropped = 0;
    std::string brokeOff;
    double seconds = 0;
    bool matrix = false;
    std::vector<FaultResult> faults;
    std::vector<VariationResult> variations;
};

// The fault or the variation a matrix's test ran under; empty for the
// healthy run's.
const std::string& profileOf(const RecordedTest& test);
// " (fault stall-status:300)", " (variation read-limit:1)" or "": what a
// matrix's test ran under, after its name.
std::string profileText(const RecordedTest& test);

std::optional<std::string> printerFirmware(const RunRecord& record);

// What devbench wrote on standard error outside the tests, with what was
// not kept said.
std::string strayStderrText(const RunRecord& record);

// A record's times are to the second; held in seconds, any year a record
// may name fits.
using RecordTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::seconds>;

// The moment a record's UTC time ("2026-12-08T02:06:45Z", as `started` and
// `finished` hold it) names; none for any other text, a day that does not
// exist included.
std::optional<RecordTime> recordMoment(const std::string& text);

// A new run's identity: 128 random bits in hexadecimal.
std::string newRunId();

} // namespace vpop
