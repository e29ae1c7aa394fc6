// One operator run: a virtual printer (or a given one), devbench, and the
// dialogue between them until devbench leaves or the run breaks off. Its
// verdict is runVerdict's (verdict.h), on the run's record.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "operator/record/library_identity.h"
#include "operator/run/prompts.h"
#include "operator/run/session.h"

namespace vpop {

// How long the operator at a person's pace (--pace person) waits before it
// changes the printer or answers a question.
const unsigned PERSON_PACE_MS = 2000;

struct RunOptions {
    // Where devbench, holdprobe and vprinter are; devbench runs in it.
    std::string dir;
    std::string devbench;
    // devbench-extended, run after devbench at the same printer when
    // `extended` (its procedures are all run).
    std::string devbenchExtended;
    bool extended = false;
    // Run only devbench-extended's procedures, not devbench's (the matrix's
    // runs of the extended catalogue).
    bool extendedOnly = false;
    std::string settings;
    bool verbose = false;
    // devbench's standard error (the library's words) is shown as well as
    // kept; the matrix's parallel runs only keep it, unless verbose.
    bool echoStderr = true;
    double timeout = 30;
    std::vector<std::string> printerOptions;
    // A printer already running; empty to start one.
    std::string endpoint;
    // Becomes readable when the operator is asked to stop.
    int stopFd = -1;
    // A person's pace (--pace person): the printer prints at its own speed
    // over a slow link, and the operator waits this long before it changes
    // the printer or answers; 0 answers at once.
    unsigned paceMs = 0;
    // Called the moment each test ends in order.
    std::function<void(const TestRecord&)> onTestEnded;
};

struct RunOutcome {
    // The port name devbench was given.
    std::string portName;
    // The library file devbench loaded, as its process mapped it once it
    // printed; none when that could not be read.
    std::optional<LibraryFile> library;
    std::vector<TestRecord> records;
    std::vector<std::string> strayFailures;
    uint64_t strayFailuresDropped = 0;
    std::string strayStderr;
    uint64_t strayStderrDropped = 0;
    double seconds = 0;
    // Why the run broke off; empty when devbench left normally with status 0.
    std::string broken;
    // The printer or devbench could not be started.
    bool setupFailed = false;
    bool interrupted = false;
};

// Another spelling of the printer's endpoint that names the same socket or
// port, for devbench-extended's question; empty when there is none.
std::string otherSpelling(const std::string& endpoint);

// devbench's planned tests, then devbench-extended's (none: it is not run)
// at the same printer: one outcome, the two suites' records in that order.
RunOutcome runOperator(
    const RunOptions& options, const std::vector<MenuChoice>& plan, const std::vector<MenuChoice>& extendedPlan = {});

} // namespace vpop
