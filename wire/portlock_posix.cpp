#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include "wire/portlock.h"

namespace wire {

// flock() belongs to the open file, not the process: a second open of the
// same file in this process is refused too, a started program does not
// inherit the lock (close-on-exec), and the file is never removed, since
// removing it could let two holders lock two different files of one name.
LockResult acquirePortLock(const std::string& name, LockHandle* lock, std::string* error)
{
    int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot create the lock " + name + ": " + strerror(errno);
        return LockResult::Failed;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int saved = errno;
        close(fd);
        if (saved == EWOULDBLOCK) return LockResult::Busy;
        *error = "cannot lock " + name + ": " + strerror(saved);
        return LockResult::Failed;
    }
    *lock = fd;
    return LockResult::Locked;
}

void releasePortLock(LockHandle lock)
{
    if (lock != NO_LOCK) close(static_cast<int>(lock));
}

void reportError(int posixError) { errno = posixError; }

} // namespace wire
