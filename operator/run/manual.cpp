#include "operator/run/manual.h"

#include "operator/platform/host.h"
#include "operator/record/library_identity.h"
#include "operator/run/dialogue.h"

namespace vpop {

RunOutcome runManual(const RunOptions& options, const std::string& port, const std::vector<MenuChoice>& plan,
    const std::vector<MenuChoice>& extendedPlan)
{
    RunOutcome outcome;
    outcome.portName = port;
    auto setupFailed = [&](const std::string& why) {
        outcome.setupFailed = true;
        outcome.broken = why;
        return outcome;
    };
    if (!fitsAnswer(port)) return setupFailed("the port name must be one line of at most 255 characters");
    if (!fitsAnswer(options.settings)) return setupFailed("the settings must be one line of at most 255 characters");
#if defined(_WIN32)
    // A DLL of the wrong width stops devbench or holdprobe before they can
    // say anything; its header says so first.
    std::string problem = loadedDllProblem(options.devbench, joinPath(directoryOf(options.devbench), libraryFileName));
    // holdprobe.exe loads the DLL beside it (the package's is 32-bit).
    if (problem.empty())
        problem = loadedDllProblem(joinPath(options.dir, "holdprobe.exe"), joinPath(options.dir, libraryFileName));
    if (!problem.empty()) return setupFailed(problem);
#endif
    Answerer technician;
    technician.byHand = true;
    outcome = converseBoth(
        options, plan, extendedPlan, technician, [&](Suite suite, const std::vector<MenuChoice>& suitePlan) {
            return Session(port, options.settings, suitePlan, suite);
        });
    outcome.portName = port;
    return outcome;
}

} // namespace vpop
