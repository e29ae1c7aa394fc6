#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wire/portlock.h"

namespace wire {

namespace {

// The variable a user sets to keep the locks in a folder of their choosing,
// when the usual one is not theirs.
const char OVERRIDE[] = "KELMORPORT_LOCK_DIR";

const char* variable(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string userName(uid_t uid)
{
    std::string name = "uid " + std::to_string(uid);
    if (const passwd* entry = getpwuid(uid)) name = std::string(entry->pw_name) + " (" + name + ")";
    return name;
}

// What a person can do about a lock folder that is not theirs alone, for
// the end of a refusal.
std::string remedy()
{
    return std::string("; set ") + OVERRIDE + " to a folder of your own (e.g. export " + OVERRIDE
        + "=$HOME/.kelmorport-locks) and try again";
}

// The folder is the user's alone, so nobody else can remove or replace a
// lock file in it, nor lock this user out by making it first.
bool makeLockFolder(const std::string& folder, std::string* error)
{
    if (folder[0] != '/') {
        *error = std::string(OVERRIDE) + " is '" + folder + "', not an absolute path" + remedy();
        return false;
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make the lock folder " + folder + ": " + strerror(errno) + remedy();
        return false;
    }
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "the lock folder " + folder + " is not a folder (a link or a file)" + remedy();
        return false;
    }
    if (info.st_uid != getuid()) {
        *error = "the lock folder " + folder + " belongs to " + userName(info.st_uid) + ", not to you, "
            + userName(getuid()) + remedy();
        return false;
    }
    if ((info.st_mode & 022) != 0) {
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        *error = "the lock folder " + folder + " can be changed by other users (mode " + mode + "); chmod 700 " + folder
            + " and try again";
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

// The user's runtime folder is theirs alone and goes with their session;
// /tmp is everyone's, so the folder there is checked before it is used.
std::string portLockFolder()
{
    if (const char* chosen = variable(OVERRIDE)) return chosen;
    const char* runtime = variable("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/kelmorport";
    return "/tmp/kelmorport-" + std::to_string(getuid());
}

std::string portLockPlace(const std::string& name) { return portLockFolder() + "/" + name + ".lock"; }

// flock() belongs to the open file, not the process: a second open of the
// same file in this process is refused too, and a started program does not
// inherit the lock (close-on-exec). A holder removes the file as it lets go,
// so a locker may have locked a file that is no longer there, or no longer
// the one of that name: it checks after locking and tries again, so that two
// holders never lock two files of one name.
LockResult acquirePortLock(const std::string& name, LockHandle* lock, std::string* error)
{
    if (!makeLockFolder(portLockFolder(), error)) return LockResult::Failed;
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
