// The lock that gives one process at a time the use of a port. It is held by
// the process, not a thread, and the system drops it when the process dies.
#pragma once

#include <stdint.h>

#include <string>

namespace vprinter {

typedef intptr_t LockHandle;
const LockHandle NO_LOCK = -1;

enum class LockResult { Locked, Busy, Failed };

// Takes the named lock without waiting. Busy: another holder has it (in this
// process or another). Failed: the lock cannot be made; *error says why.
LockResult acquirePortLock(const std::string& name, LockHandle* lock, std::string* error);
void releasePortLock(LockHandle lock);

} // namespace vprinter
