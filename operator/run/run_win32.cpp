#include "operator/run/run.h"

namespace vpop {

// The virtual printer runs on Linux; on Windows the operator only serves a
// technician at a real printer (--manual).
RunOutcome runOperator(const RunOptions&, const std::vector<MenuChoice>&, const std::vector<MenuChoice>&)
{
    RunOutcome outcome;
    outcome.setupFailed = true;
    outcome.broken = "runs against the virtual printer need Linux; on Windows use --manual";
    return outcome;
}

} // namespace vpop
