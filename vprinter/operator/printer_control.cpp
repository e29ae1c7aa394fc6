#include "vprinter/operator/printer_control.h"

#if defined(VPOP_HAVE_CONTROL_LIB)
#include "vprinter/control.h"
#else
#include "vprinter/operator/processes.h"
#endif

namespace vpop {

#if defined(VPOP_HAVE_CONTROL_LIB)

bool setPrinter(
    const std::string&, const std::string& endpoint, const std::vector<std::string>& settings, std::string* error)
{
    return vprinterSet(endpoint, settings, error);
}

#else

bool setPrinter(const std::string& vprinterProgram, const std::string& endpoint,
    const std::vector<std::string>& settings, std::string* error)
{
    std::vector<std::string> args = { vprinterProgram, "set", endpoint };
    args.insert(args.end(), settings.begin(), settings.end());
    ChildOptions options;
    options.quietOutput = true;
    Child child;
    if (!startChild(vprinterProgram, args, options, &child, error)) return false;
    int status = -1;
    if (!waitChild(child, 10, &status)) {
        stopChild(child, 1);
        *error = "vprinter set did not finish within 10 s";
        return false;
    }
    if (status != 0) {
        *error = "vprinter set exited with status " + std::to_string(status);
        return false;
    }
    return true;
}

#endif

} // namespace vpop
