// A run record (docs/records.md) read back for the sign-off report: the
// fields a person reads, checked once here so the page and the Markdown
// never meet a missing or mistyped one.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "operator/record/verdict.h"
#include "operator/run/session.h"

namespace vpop::signoff {

// The record versions this reader knows.
inline constexpr int knownSchema = 1;

struct LibraryIdentity {
    std::string path;
    std::optional<uint64_t> size;
    std::optional<std::string> sha256;
    std::optional<std::string> fileVersion;
};

struct RecordedTest {
    unsigned number = 0;
    std::string name;
    Verdict verdict = Verdict::Fail;
    // Matrix runs only: the fault profile it ran under.
    std::optional<std::string> fault;
    std::vector<std::string> failureLines;
    std::vector<std::string> findings;
    bool paperChecked = false;
    std::optional<std::vector<PaperJob>> paperJobs;
    std::optional<double> seconds;
    std::string console;
};

struct RecordedRun {
    // The file it was read from, as given.
    std::string file;
    // Pass, Fail or BrokeOff.
    Verdict verdict = Verdict::Fail;
    std::optional<std::string> started;
    std::optional<std::string> finished;
    std::string host;
    std::string portName;
    std::string portSettings;
    std::string mode;
    LibraryIdentity library;
    // Windows: the 32-bit DLL of holdprobe.exe, and the package's convention.
    std::optional<LibraryIdentity> probeLibrary;
    std::optional<std::string> callingConvention;
    std::optional<std::string> firmware;
    std::string devbench;
    std::vector<RecordedTest> tests;
    std::vector<std::string> strayFailures;
    std::optional<std::string> brokeOff;
};

// Reads the record at `path`; false with `error` naming the file and what is
// wrong (another version, cut short, not JSON, not a record).
bool readRecord(const std::string& path, RecordedRun* run, std::string* error);
// The same for a record already in memory, `file` naming it in messages.
bool parseRecord(const std::string& file, const std::string& text, RecordedRun* run, std::string* error);

} // namespace vpop::signoff
