// The records of a run: a JSON record of everything known about it (see
// docs/records.md) and a JUnit report for CI servers. Both are written even
// when the run broke off, and a file that cannot be written is an error.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/faults.h"
#include "operator/run.h"
#include "operator/session.h"

namespace vpop {

struct LibraryFile {
    std::string path;
    bool read = false;
    uint64_t size = 0;
    std::string sha256;
    // From a Windows version resource; empty when there is none.
    std::string fileVersion;
};

struct RecordedTest {
    TestRecord result;
    // Why the run broke off, for a test that did not end in order.
    std::string brokeOff;
    // Fault matrix only: the profile it ran under (empty for the healthy
    // run), the failure line the catalogue expects of it (empty when it must
    // pass) and whether that line came.
    std::string fault;
    std::string expectedFailure;
    bool expectedSeen = false;
};

struct FaultResult {
    std::string fault;
    unsigned expectedTest = 0;
    bool caught = false;
    std::string note;
};

struct RunRecord {
    std::string started;
    std::string finished;
    std::string host;
    std::string portName;
    std::string portSettings;
    std::string mode;
    LibraryFile library;
    std::string devbench;
    std::vector<RecordedTest> tests;
    std::vector<std::string> strayFailures;
    std::string brokeOff;
    double seconds = 0;
    bool matrix = false;
    std::vector<FaultResult> faults;
};

// "pass", "fail" or "broke off".
std::string_view verdictWord(const TestRecord& record);

// The name Test Read printed in its console: the characters of the complete
// reply, each of which follows its own hexadecimal line.
std::optional<std::string> firmwareName(std::string_view console);
std::optional<std::string> printerFirmware(const RunRecord& record);

// The library devbench at `devbench` loads: the first found of the loader's
// search path, devbench's own directory, `fallbackDirectory`.
std::string libraryPath(const std::string& devbench, const std::string& fallbackDirectory);
LibraryFile inspectLibrary(const std::string& path);

// A run's tests; a run that never reached its tests still lists the planned
// ones, as broken off.
void addRun(RunRecord& record, const RunOutcome& outcome, const std::vector<MenuChoice>& plan);
void addFaultRun(RunRecord& record, const RunOutcome& outcome, const FaultCase& fault, const Judgement& judgement);

std::string jsonRecord(const RunRecord& record);
std::string junitReport(const RunRecord& record);

// The files asked for with --record and --junit. Both are opened before the
// run, so a path that cannot be written fails at once, not after an hour at
// the printer.
class RecordFiles {
public:
    RecordFiles(std::string jsonPath, std::string junitPath);
    RecordFiles(const RecordFiles&) = delete;
    RecordFiles& operator=(const RecordFiles&) = delete;
    ~RecordFiles();

    bool wanted() const { return !jsonPath_.empty() || !junitPath_.empty(); }
    bool open(std::string* error);
    bool write(const RunRecord& record, std::string* error);

private:
    std::string jsonPath_;
    std::string junitPath_;
    FILE* json_ = nullptr;
    FILE* junit_ = nullptr;
};

// Text as valid UTF-8: every byte that starts no valid sequence becomes
// U+FFFD.
std::string validUtf8(std::string_view text);
std::string jsonString(std::string_view text);
// Character data or an attribute value; what XML 1.0 cannot hold at all
// (most control characters) becomes U+FFFD.
std::string xmlEscaped(std::string_view text, bool attribute);

} // namespace vpop
