// Files a library keeps beside its work, for the variations that model
// them: one log for the whole process, and a trace per session that a writer
// thread closes a moment after its port. Both are scratch files the system
// removes once they are closed (or the process ends), so nothing is left
// behind; a system that cannot make one leaves the note unwritten.
#pragma once

#include <stdint.h>
#include <stdio.h>

namespace standin {

// Opened by the first call, kept until the process ends.
void openProcessLog();
// A line in the process's log, once it is open.
void logNote(const char* text);

// A session's trace file; null when none can be made.
FILE* openTrace();
// Closed by the writer thread `delayMs` after now.
void closeTraceLater(FILE* trace, uint32_t delayMs);

} // namespace standin
