// Changing the virtual printer's state, as an operator would at the printer.
#pragma once

#include <string>
#include <vector>

namespace vpop {

// Applies the control words (key=value) in order. `vprinterProgram` is the
// vprinter executable, used when the control library is not built in.
bool setPrinter(const std::string& vprinterProgram, const std::string& endpoint,
    const std::vector<std::string>& settings, std::string* error);

} // namespace vpop
