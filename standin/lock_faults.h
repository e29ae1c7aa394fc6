// The stand-in's faults of the lock and of refusals, the ways a library's
// lock goes wrong that only the system's own calls can show: a lock file
// in the current folder, a lock taken for stale by its age, a lock its
// holder's programs inherit, a lock let go while its handle is kept, a
// descriptor each refusal keeps. POSIX; on Windows each does what a sound
// library does, and those faults are not in the Windows catalogue.
#pragma once

#include <stdint.h>

#include <string>

#include "wire/portlock.h"

namespace standin {

// lock-relative: the lock file of `name` in the current folder.
wire::LockResult lockInCurrentFolder(const std::string& name, wire::LockHandle* lock);
void releaseCurrentFolderLock(const std::string& name, wire::LockHandle lock);

// lock-stale: removes the lock file of `name` when it was made more than
// `ms` ago, as if its holder had died; true when it did.
bool removeIfOlder(const std::string& name, uint32_t ms);

// lock-inherited: the programs the process starts from now on hold the lock
// too, and a release leaves the file for them to hold.
void letInherit(wire::LockHandle lock);
void releaseKeepingFile(wire::LockHandle lock);

// second-open-shares-lock: lets go of the lock, keeping its handle open.
void unlockKeeping(wire::LockHandle lock);

// refusal-leaks: one descriptor opened and never closed.
void leakOneHandle();

} // namespace standin
