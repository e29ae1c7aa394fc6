// The lock that gives one process at a time the use of a port. It is held by
// the process, not a thread, and the system drops it when the process dies.
#pragma once

#include <stdint.h>

#include <string>

namespace wire {

typedef intptr_t LockHandle;
const LockHandle NO_LOCK = -1;

enum class LockResult { Locked, Busy, Failed };

// Takes the lock called `name` (lockName() of an endpoint) without waiting.
// Busy: another holder has it (in this process or another). Failed: the lock
// cannot be made; *error says why.
LockResult acquirePortLock(const std::string& name, LockHandle* lock, std::string* error);
// Gives the lock back and leaves nothing behind for it.
void releasePortLock(const std::string& name, LockHandle lock);

// Where the lock called `name` is kept on this system, for a person looking
// for it: a file in a folder of the user's own (POSIX), or an object name
// (Windows).
std::string portLockPlace(const std::string& name);

#ifndef _WIN32
// The folder of the user's locks, the same for every program that locks:
// $KELMORPORT_LOCK_DIR when set, else $XDG_RUNTIME_DIR/kelmorport, else
// /tmp/kelmorport-UID. A folder that is not the user's alone is refused,
// naming its owner and the override.
std::string portLockFolder();
#endif

// Leaves the reason for a failed call where the library's caller looks for
// it: errno, and on Windows also the thread's last error, where EBUSY (the
// port is held elsewhere) becomes ERROR_ALREADY_EXISTS. Every failure sets
// it, and last, so no value left from before the call is taken for the reason.
void reportError(int posixError);

} // namespace wire
