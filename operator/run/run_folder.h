// The temporary folder of a run against the virtual printer, for the
// printer's socket. It holds a note of the operator that made it, so that
// what a killed operator left (the folder, the socket, the library's lock of
// that socket) is found and removed at the next start, and only once its
// owner is gone. Only the files a run makes are removed, by their names:
// nothing a note or anyone else put there is taken for one.
#pragma once

#include <string>

namespace vpop {

// Makes the folder in $TMPDIR (or /tmp) after removing what killed runs of
// this user left there; false with `error` when it cannot be made.
bool makeRunFolder(std::string* folder, std::string* error);
// Where the run's printer listens: a socket in the folder.
std::string runSocket(const std::string& folder);
// Notes the library's lock of the run's printer (lockName() of its socket),
// which a holder killed meanwhile leaves behind.
void noteRunLock(const std::string& folder, const std::string& lockName);
// Removes the folder, the files the run made in it and the lock noted, when
// nobody holds it.
void removeRunFolder(const std::string& folder);

} // namespace vpop
