// The temporary folder of a run against the virtual printer, for the
// printer's socket. It holds a note of the operator that made it, so that
// what a killed operator left (the folder, the socket, the printer's lock
// file) is found and removed at the next start, and only once its owner is
// gone.
#pragma once

#include <string>

namespace vpop {

// Makes the folder in $TMPDIR (or /tmp) after removing what killed runs of
// this user left there; false with `error` when it cannot be made.
bool makeRunFolder(std::string* folder, std::string* error);
// Notes a file outside the folder that is the run's to remove.
void noteRunFile(const std::string& folder, const std::string& file);
// Removes the folder, what is in it and the files noted.
void removeRunFolder(const std::string& folder);

} // namespace vpop
