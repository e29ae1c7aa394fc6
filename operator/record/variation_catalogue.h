// The matrix's controls: healthy variations, what the library contract lets
// a healthy library do differently. Each runs against every test of the
// suite and must pass them all; a test it fails is a false failure, a fault
// of the suite's check, not of the library.
#pragma once

#include <string_view>
#include <vector>

#include "operator/record/fault_catalogue.h"

namespace vpop {

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
    // A healthy library at a person's pace: only the procedures whose
    // verdict rests on timing run, each at the printer's own speed.
    bool personPace = false;
};

const std::vector<VariationCase>& variationCatalogue();

// Every test of the suite, once each, in table order.
std::vector<unsigned> variationTests();
// What a control runs: every test of devbench and every procedure of
// devbench-extended; at a person's pace, the timing procedures.
ProfileTests variationTests(const VariationCase& variation);

} // namespace vpop
