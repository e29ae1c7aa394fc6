// The reading of Test Read's console: the printer's firmware name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vpop {

// The name Test Read printed in its console: the characters of the complete
// reply, each of which follows its own hexadecimal line.
std::optional<std::string> firmwareName(std::string_view console);

} // namespace vpop
