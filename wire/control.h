// Changing and reading a running virtual printer's state from another
// program: what `vprinter set/get` do, for tools that link vprinter_control.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vprinter {

// Sends key=value assignments (e.g. "cover=open", "paper=out") to the
// printer at endpoint; they are applied together or not at all. False, with
// a reason in *error (may be null), for an unknown key or value or an
// unreachable printer.
bool vprinterSet(const std::string& endpoint, const std::vector<std::string>& assignments, std::string* error);

// Reads the whole state: every settable key, plus offline, error, bytes and
// last (the last command the printer recognised).
bool vprinterGet(const std::string& endpoint, std::map<std::string, std::string>* state, std::string* error);

// The same state as "key=value\n" lines, in the printer's own order.
bool vprinterGetText(const std::string& endpoint, std::string* text, std::string* error);

} // namespace vprinter

using vprinter::vprinterGet;
using vprinter::vprinterSet;
