#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wire/portlock.h"

namespace wire {

namespace {

// In /tmp whatever TMPDIR says: every process of the user must find the
// same file, or two of them would hold one port.
std::string lockFolder() { return "/tmp/kelmorport-" + std::to_string(getuid()); }

// The folder is the user's alone, so nobody else can remove or replace a
// lock file in it.
bool makeLockFolder(const std::string& folder, std::string* error)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make the lock folder " + folder + ": " + strerror(errno);
        return false;
    }
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()
        || (info.st_mode & 022) != 0) {
        *error = "the lock folder " + folder + " is not a folder of this user's alone; remove it and try again";
        return false;
    }
    return true;
}

bool namesFile(const std::string& path, int fd)
{
    struct stat named, held;
    return stat(path.c_str(), &named) == 0 && fstat(fd, &held) == 0 && named.st_dev == held.st_dev
        && named.st_ino == held.st_ino;
}

} // namespace

std::string portLockPlace(const std::string& name) { return lockFolder() + "/" + name + ".lock"; }

// flock() belongs to the open file, not the process: a second open of the
// same file in this process is refused too, and a started program does not
// inherit the lock (close-on-exec). A holder removes the file as it lets go,
// so a locker may have locked a file that is no longer there, or no longer
// the one of that name: it checks after locking and tries again, so that two
// holders never lock two files of one name.
LockResult acquirePortLock(const std::string& name, LockHandle* lock, std::string* error)
{
    if (!makeLockFolder(lockFolder(), error)) return LockResult::Failed;
    std::string path = portLockPlace(name);
    for (;;) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            *error = "cannot create the lock " + path + ": " + strerror(errno);
            return LockResult::Failed;
        }
        int locked;
        while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
        if (locked != 0) {
            int saved = errno;
            close(fd);
            if (saved == EWOULDBLOCK) return LockResult::Busy;
            *error = "cannot lock " + path + ": " + strerror(saved);
            return LockResult::Failed;
        }
        if (namesFile(path, fd)) {
            *lock = fd;
            return LockResult::Locked;
        }
        close(fd);
    }
}

void releasePortLock(const std::string& name, LockHandle lock)
{
    if (lock == NO_LOCK) return;
    int fd = static_cast<int>(lock);
    // Removed while still held, and only if the name is still this file's.
    std::string path = portLockPlace(name);
    if (namesFile(path, fd)) unlink(path.c_str());
    close(fd);
}

void reportError(int posixError) { errno = posixError; }

} // namespace wire
