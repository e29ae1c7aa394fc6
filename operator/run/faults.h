// Judging one run of the fault matrix as it ends, for its row in the table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "operator/record/fault_catalogue.h"
#include "operator/run/run.h"

namespace vpop {

struct Judgement {
    bool caught = false;
    // Why not, or what else changed.
    std::string note;
};

Judgement judge(const FaultCase& fault, const RunOutcome& outcome);

// "fault=x" added to the operator's own settings.
std::string combinedSettings(const std::string& settings, std::string_view librarySetting);

} // namespace vpop
