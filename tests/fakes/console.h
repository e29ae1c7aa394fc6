// Runs suite code with standard input fed from a string and standard output
// captured, so tests see the console byte for byte.
#pragma once

#include <functional>
#include <string>

namespace fake {

// Standard error is captured too, and read with capturedStderr.
std::string runConsole(const std::string& input, const std::function<void()>& body);

// What the last runConsole's body wrote on standard error.
std::string capturedStderr();

// What the body has printed so far, read while runConsole captures it.
std::string capturedSoFar();

// Fails the running unit test unless every failure line in the output names
// a line that holds a check in the source of the test that printed it.
// runConsole applies it to everything it captures.
void expectFailureLinesNameChecks(const std::string& out);

// Fails the running unit test unless standard error holds one answer line
// for each failure line, each naming a check, in the order of the failures.
// runConsole applies it too.
void expectAnswerAfterEachFailure(const std::string& out, const std::string& err);

} // namespace fake
