// Runs suite code with standard input fed from a string and standard output
// captured, so tests see the console byte for byte.
#pragma once

#include <functional>
#include <string>

namespace fake {

std::string runConsole(const std::string& input, const std::function<void()>& body);

// What the body has printed so far, read while runConsole captures it.
std::string capturedSoFar();

} // namespace fake
