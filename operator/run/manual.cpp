#include "operator/run/manual.h"

#include "operator/platform/host.h"
#include "operator/record/library_identity.h"
#include "operator/run/dialogue.h"

namespace vpop {

RunOutcome runManual(const RunOptions& options, const std::string& port, const std::vector<MenuChoice>& plan)
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
    std::string problem = dllWidthProblem(joinPath(directoryOf(options.devbench), libraryFileName), 64);
    // The package's holdprobe.exe is 32-bit, and loads the DLL beside it.
    if (problem.empty() && fileExists(joinPath(options.dir, "holdprobe.exe")))
        problem = dllWidthProblem(joinPath(options.dir, libraryFileName), 32);
    if (!problem.empty()) return setupFailed(problem);
#endif
    Session session(port, options.settings, plan);
    Answerer technician;
    technician.byHand = true;
    outcome = converse(options, session, technician);
    outcome.portName = port;
    return outcome;
}

} // namespace vpop
