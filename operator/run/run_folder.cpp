#include "operator/run/run_folder.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "wire/portlock.h"

namespace vpop {

namespace {

const char PREFIX[] = "vpoperator-";
// The files a run makes in its folder, and the only ones removed from it.
const char OWNER[] = "owner";
const char SOCKET[] = "printer.sock";
// The owner's note: a line for people, then a lock name a line; a run notes
// one or two.
const size_t NOTE_LIMIT = 4096;

// The owner file of each run folder this process made, held locked while the
// run lasts: the lock is the proof of life, as the system drops it with the
// process, in whatever PID namespace it ran.
std::mutex heldMutex;
std::map<std::string, int> held;

// A lock's name as lockName() makes it for a socket: never a path, so a note
// cannot lead the clean-up outside the lock folder.
bool isLockName(const std::string& name)
{
    return !name.empty() && name[0] != '.' && name.size() < 200
        && name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_")
        == std::string::npos;
}

// A lock left by a holder that was killed: its file goes only when nobody
// holds it, taken and let go as any holder would.
void removeFreeLock(const std::string& name)
{
    struct stat info { };
    if (!isLockName(name) || lstat(wire::portLockPlace(name).c_str(), &info) != 0) return;
    wire::LockHandle lock = wire::NO_LOCK;
    std::string ignored;
    if (wire::acquirePortLock(name, &lock, &ignored) == wire::LockResult::Locked) wire::releasePortLock(name, lock);
}

void note(const std::string& folder, const std::string& why)
{
    fprintf(stderr, "vpoperator: left %s alone: %s\n", folder.c_str(), why.c_str());
}

// What is wrong with the folder's entries for a run's folder, or "": only
// the owner file, and the printer's socket if it started.
std::string strangeEntry(int dir)
{
    DIR* list = fdopendir(dup(dir));
    if (list == nullptr) return std::string("it cannot be listed: ") + strerror(errno);
    std::string strange;
    bool owner = false;
    while (dirent* entry = readdir(list)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info { };
        bool known = fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (name == OWNER && known && S_ISREG(info.st_mode)) {
            owner = true;
        } else if (!(name == SOCKET && known && S_ISSOCK(info.st_mode)) && strange.empty()) {
            strange = name == OWNER || name == SOCKET ? "its " + name + " is not what a run makes there"
                                                      : "it holds " + name + ", which a run does not make";
        }
    }
    closedir(list);
    if (strange.empty() && !owner) strange = "it has no owner file";
    return strange;
}

// The lock names the owner noted. False for a note not yet written: its run
// writes it only once it holds the lock, so an empty one may be a run that
// has made its owner file and not yet locked it.
bool notedLocks(int owner, std::vector<std::string>* locks)
{
    std::string text(NOTE_LIMIT, '\0');
    ssize_t got = pread(owner, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    if (line.empty()) return false;
    while (std::getline(lines, line)) {
        if (!line.empty()) locks->push_back(line);
    }
    return true;
}

// Removes a run's folder whose owner holds no lock on it, and only when it
// holds exactly what a run makes, each of its type. Nothing in it is opened
// but the owner, a regular file, without waiting; anything else is left
// alone, with a line saying why when `loud`.
void cleanFolder(const std::string& folder, bool loud)
{
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (dir < 0) return;
    struct stat info { };
    std::string strange = fstat(dir, &info) != 0 || info.st_uid != getuid() ? "it is not yours" : strangeEntry(dir);
    struct stat listed { };
    fstatat(dir, OWNER, &listed, AT_SYMLINK_NOFOLLOW);
    int owner = strange.empty() ? openat(dir, OWNER, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
    struct stat opened { };
    if (strange.empty() && (owner < 0 || fstat(owner, &opened) != 0 || opened.st_ino != listed.st_ino))
        strange = "its owner file changed as it was read";
    if (!strange.empty()) {
        if (loud) note(folder, strange);
    } else if (std::vector<std::string> locks; flock(owner, LOCK_EX | LOCK_NB) == 0 && notedLocks(owner, &locks)) {
        for (const std::string& lock : locks) removeFreeLock(lock);
        unlinkat(dir, SOCKET, 0);
        unlinkat(dir, OWNER, 0);
        rmdir(folder.c_str());
    }
    if (owner >= 0) close(owner);
    close(dir);
}

// A name mkdtemp makes of the pattern: other folders that happen to start
// alike (a browser profile a test names after us) are none of ours.
bool isRunFolderName(const char* name)
{
    size_t prefix = sizeof PREFIX - 1;
    if (strncmp(name, PREFIX, prefix) != 0 || strlen(name) != prefix + 6) return false;
    for (const char* c = name + prefix; *c != '\0'; ++c) {
        if (!isalnum(static_cast<unsigned char>(*c))) return false;
    }
    return true;
}

// Folders of this user left by runs whose owner is gone. A run alive holds
// its owner locked, and is passed by.
void removeLeftFolders(const std::string& base)
{
    DIR* dir = opendir(base.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> folders;
    while (dirent* entry = readdir(dir)) {
        if (isRunFolderName(entry->d_name)) folders.push_back(base + "/" + entry->d_name);
    }
    closedir(dir);
    for (const std::string& folder : folders) {
        struct stat info { };
        if (lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid())
            cleanFolder(folder, true);
    }
}

} // namespace

bool makeRunFolder(std::string* folder, std::string* error)
{
    const char* tmp = getenv("TMPDIR");
    // A socket path must fit in sun_path (108 bytes).
    std::string base = tmp != nullptr && *tmp != '\0' && strlen(tmp) < 60 ? tmp : "/tmp";
    removeLeftFolders(base);
    std::string pattern = base + "/" + PREFIX + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        *error = "cannot make a temporary directory in " + base + ": " + strerror(errno);
        return false;
    }
    *folder = buffer.data();
    std::string path = *folder + "/" + OWNER;
    int owner = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0600);
    // Another run's clean-up may hold the new file a moment, finds no note
    // and lets go: wait for it rather than fail.
    if (owner < 0 || flock(owner, LOCK_EX) != 0) {
        *error = "cannot make the run's owner file " + path + ": " + strerror(errno);
        if (owner >= 0) close(owner);
        rmdir(folder->c_str());
        return false;
    }
    // For a person looking: the lock, not this, tells whether the run lives.
    dprintf(owner, "vpoperator process %ld\n", static_cast<long>(getpid()));
    std::lock_guard<std::mutex> lock(heldMutex);
    held[*folder] = owner;
    return true;
}

std::string runSocket(const std::string& folder) { return folder + "/" + SOCKET; }

void noteRunLock(const std::string& folder, const std::string& lockName)
{
    std::lock_guard<std::mutex> lock(heldMutex);
    auto owner = held.find(folder);
    if (owner != held.end()) dprintf(owner->second, "%s\n", lockName.c_str());
}

void removeRunFolder(const std::string& folder)
{
    {
        std::lock_guard<std::mutex> lock(heldMutex);
        auto owner = held.find(folder);
        if (owner == held.end()) return;
        close(owner->second);
        held.erase(owner);
    }
    cleanFolder(folder, false);
}

} // namespace vpop
