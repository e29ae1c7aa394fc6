// The fault catalogue: for each way a library or printer can go wrong, the
// test that exists to catch it and the failure line it must print.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operator/record/test_record.h"

namespace vpop {

struct FaultCase {
    std::string_view fault;
    // Added to the port settings (the stand-in library's options).
    std::string_view librarySetting;
    // Added to `vprinter serve` (the printer's own faults).
    std::vector<std::string_view> printerOptions;
    // Run in this order; every one but the expected test must still pass.
    std::vector<unsigned> tests;
    unsigned expectedTest;
    // The failure line without its "failure: line(N) " start, or the
    // headline of the operator's own finding ("operator: ...") for a fault
    // that only the operator sees.
    std::string_view expectedLine;
    // The program whose test is expected to catch it (its `tests` are that
    // program's), and whether it shows only at a person's pace.
    Suite suite = Suite::Devbench;
    bool personPace = false;
};

// What one run of the matrix runs: its tests of each program, one menu
// choice each, devbench's first, and whether at a person's pace.
struct ProfileTests {
    std::vector<unsigned> devbench;
    std::vector<unsigned> extended;
    bool personPace = false;
};

// A fault's tests, in the program its expected test is in.
ProfileTests faultTests(const FaultCase& fault);

// devbench-extended's faults first (their runs are the longest), then
// devbench's.
const std::vector<FaultCase>& faultCatalogue();
// devbench-extended's alone.
const std::vector<FaultCase>& extendedFaults();

// The test printed the failure line the fault is expected to cause, or the
// operator found in it what the fault is expected to leave.
bool printsExpectedFailure(const FaultCase& fault, const TestRecord& record);

// Every test of the catalogue, once, in table order: what a healthy run must
// pass before any fault can be said to be caught.
std::vector<unsigned> catalogueTests(Suite suite = Suite::Devbench);

} // namespace vpop
