// Changing the virtual printer's state, as an operator would at the printer.
#pragma once

#include <string>
#include <vector>

namespace vpop {

// Applies the control words (key=value) together, or none of them.
bool setPrinter(const std::string& endpoint, const std::vector<std::string>& settings, std::string* error);

} // namespace vpop
