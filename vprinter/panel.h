// The front panel: operator words (key=value) become device changes, and the
// device's state becomes text. Shared by the console of `vprinter serve` and
// the SET/GET requests of `vprinter set/get`.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "vprinter/device.h"

namespace vprinter {

// Applies the words as one change: every word is checked before any is
// applied, so a bad word changes nothing. Physical changes are applied before
// the online button whatever their order, so "online=yes cover=closed"
// recovers a printer as "cover=closed online=yes" does.
bool applyAssignments(Device& device, const std::vector<std::string>& words, std::string* error);

// The whole state as key=value pairs: the settable keys, then the derived
// ones (offline, error, bytes, last).
std::vector<std::pair<std::string, std::string>> describeState(const Device& device);

// The same on one line, for the console.
std::string stateLine(const Device& device);

// One console line: assignments, "status", "help" or "quit". Returns the
// text to show (may be empty); sets *quit on "quit".
std::string consoleLine(Device& device, const std::string& line, bool* quit);

// A control as a person sees it on the page: its key, what it is, what its
// positions mean, and its two positions (word and name), the one it has when
// the printer is ready first.
struct ControlName {
    const char* key;
    const char* label;
    const char* hint;
    struct Position {
        const char* word;
        const char* name;
    } positions[2];
};
const std::vector<ControlName>& panelControls();

std::vector<std::string> splitWords(const std::string& text);

} // namespace vprinter
