// The temporary folder of a run against the virtual printer, for the
// printer's socket. The run holds a lock on the folder's owner file while it
// lasts, so that what a killed operator left (the folder, the socket, the
// library's lock of that socket) is found and removed at the next start, and
// only once nobody holds that lock: a PID proves nothing in another PID
// namespace, nor once the number is given again. A folder is emptied only
// when it holds exactly what a run makes there; nothing in it that could
// block (a FIFO, a device) is ever opened.
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
