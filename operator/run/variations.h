// The matrix's controls: healthy variations, what the library contract lets
// a healthy library do differently. Each runs against every test of the
// suite and must pass them all; a test it fails is a false failure, a fault
// of the suite's check, not of the library.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/run/run.h"

namespace vpop {

// A false failure the suite is known to show until its check is mended: the
// variation must fail this test with this line and nothing else, and once
// it passes, the mark must go.
struct KnownFalseFailure {
    unsigned test;
    // The failure line after "failure: line(N) "; %u stands for a number.
    std::string_view line;
};

struct VariationCase {
    std::string_view variation;
    // Added to the port settings (the stand-in library's options).
    std::string_view librarySetting;
    // Added to `vprinter serve`, for a printer that is to behave another way.
    std::vector<std::string_view> printerOptions;
    // What the library does differently, as its maker would say it.
    std::string_view what;
    // The words of the library contract that allow it.
    std::string_view allowedBy;
    std::optional<KnownFalseFailure> knownFalseFailure;
};

const std::vector<VariationCase>& variationCatalogue();

// Every test of the suite, once each, in table order.
std::vector<unsigned> variationTests();

struct VariationJudgement {
    // Every test passed, or failed only as its known false failure says.
    bool asExpected = false;
    // It failed as its known false failure says.
    bool knownFailureSeen = false;
    // What went otherwise.
    std::string note;
};

VariationJudgement judgeVariation(const VariationCase& variation, const RunOutcome& outcome);

} // namespace vpop
