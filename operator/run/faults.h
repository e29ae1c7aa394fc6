// Judging one run of the fault matrix as it ends, a fault's or a control's,
// for its row in the table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operator/record/fault_catalogue.h"
#include "operator/record/variation_catalogue.h"
#include "operator/run/run.h"

namespace vpop {

struct Judgement {
    // What the run is there for happened (expectationMet): the fault was
    // caught, the control passed every test.
    bool met = false;
    // Why not, or what else changed.
    std::string note;
};

Judgement judge(const FaultCase& fault, const RunOutcome& outcome);
Judgement judge(const VariationCase& variation, const RunOutcome& outcome);

// "fault=x" added to the operator's own settings.
std::string combinedSettings(const std::string& settings, std::string_view librarySetting);

} // namespace vpop
