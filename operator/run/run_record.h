// A run's outcome put on its record: every planned test, run or not, and in
// a fault matrix what each fault's or control's run was to show.
#pragma once

#include <vector>

#include "operator/record/fault_catalogue.h"
#include "operator/record/records.h"
#include "operator/record/variation_catalogue.h"
#include "operator/run/run.h"

namespace vpop {

// `extendedPlan`: devbench-extended's procedures, run after `plan`'s tests.
void addRun(RunRecord& record, const RunOutcome& outcome, const std::vector<MenuChoice>& plan,
    const std::vector<MenuChoice>& extendedPlan = {});
// Whether the fault was caught is derived from its tests (deriveJudgements);
// `note` says what else happened.
void addFaultRun(RunRecord& record, const RunOutcome& outcome, const FaultCase& fault, const std::string& note);
// A control's run: whether every test passed under it is derived the same way.
void addVariationRun(
    RunRecord& record, const RunOutcome& outcome, const VariationCase& variation, const std::string& note);

} // namespace vpop
