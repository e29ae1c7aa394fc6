// A run by hand: a technician at a real printer with the vendor's library.
// The operator starts devbench, answers its questions (port name, settings,
// the menu), shows everything devbench prints as it comes and passes the
// technician's Enter back at each prompt. It changes nothing on any printer.
#pragma once

#include <string>
#include <vector>

#include "operator/run/prompts.h"
#include "operator/run/run.h"

namespace vpop {

// Uses the options' dir (devbench's working directory), devbench, settings,
// timeout (how long devbench may be silent while it is not waiting for the
// technician) and onTestEnded.
RunOutcome runManual(const RunOptions& options, const std::string& port, const std::vector<MenuChoice>& plan,
    const std::vector<MenuChoice>& extendedPlan = {});

} // namespace vpop
