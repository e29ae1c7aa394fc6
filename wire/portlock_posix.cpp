#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

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

std::string modeText(mode_t mode)
{
    char text[8];
    snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why `path` (a folder on the way to the lock folder) lets another user
// replace what is in it, or "": as ssh checks the folders of its keys, it
// must be root's or the user's and writable by nobody else, but a sticky
// folder (/tmp), where nobody can rename or remove another's entries.
std::string unsafeParent(const std::string& path, bool link)
{
    struct stat info;
    if ((link ? lstat(path.c_str(), &info) : stat(path.c_str(), &info)) != 0)
        return std::string("cannot be checked: ") + strerror(errno);
    if (info.st_uid != 0 && info.st_uid != getuid())
        return "belongs to " + userName(info.st_uid) + ", not to you or root";
    if (!S_ISLNK(info.st_mode) && (info.st_mode & 022) != 0 && !(S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)))
        return "other users can write in (mode " + modeText(info.st_mode) + ", not sticky)";
    return "";
}

// Every folder above the lock folder, as named (a link on the way counts
// as what it is) and as it resolves; false with a refusal naming both.
bool parentsSafe(const std::string& folder, std::string* error)
{
    std::string parent = folder.substr(0, folder.find_last_not_of('/') + 1);
    parent = parent.substr(0, std::max<size_t>(parent.rfind('/'), 1));
    char resolved[PATH_MAX];
    std::string real = realpath(parent.c_str(), resolved) != nullptr ? resolved : parent;
    for (const auto& [path, link] : { std::pair { parent, true }, std::pair { real, false } }) {
        for (size_t end = 0; end != std::string::npos;) {
            end = path.find('/', end + 1);
            std::string step = path.substr(0, end == std::string::npos ? path.size() : std::max<size_t>(end, 1));
            if (std::string why = unsafeParent(step, link); !why.empty()) {
                *error = "the lock folder " + folder + " is inside " + step
                    + ", which another user could change: " + why + remedy();
                return false;
            }
        }
    }
    return true;
}

// The folder is the user's alone, so nobody else can remove or replace a
// lock file in it, nor lock this user out by making it first; so are the
// folders above it, so nobody can swap it for another between our check
// and our open.
bool makeLockFolder(const std::string& folder, std::string* error)
{
    if (folder[0] != '/') {
        *error = std::string(OVERRIDE) + " is '" + folder + "', not an absolute path" + remedy();
        return false;
    }
    if (!parentsSafe(folder, error)) return false;
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
        *error = "the lock folder " + folder + " can be changed by other users (mode " + modeText(info.st_mode)
            + "); chmod 700 " + folder + " and try again";
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
