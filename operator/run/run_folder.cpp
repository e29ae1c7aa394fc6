#include "operator/run/run_folder.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "wire/portlock.h"

namespace vpop {

namespace {

const char PREFIX[] = "vpoperator-";
// The files a run makes in its folder, and the only ones removed from it.
const char OWNER[] = "owner";
const char SOCKET[] = "printer.sock";

// When the process started, in clock ticks since boot, so that another
// process given the same PID later is not taken for the owner. Empty where
// it cannot be read.
std::string startTime(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The name in parentheses may hold spaces and parentheses itself.
    size_t close = text.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    // The state is the third field of the line, the start time the 22nd.
    for (int i = 3; i <= 22; ++i) {
        if (!(fields >> field)) return "";
    }
    return field;
}

bool alive(pid_t pid, const std::string& started)
{
    if (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH)) return false;
    return started.empty() || startTime(pid) == started;
}

// The owner's PID and start time, then the locks it noted.
struct Owner {
    pid_t pid = 0;
    std::string started;
    std::vector<std::string> locks;
};

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
    if (!isLockName(name) || stat(wire::portLockPlace(name).c_str(), &info) != 0) return;
    wire::LockHandle lock = wire::NO_LOCK;
    std::string ignored;
    if (wire::acquirePortLock(name, &lock, &ignored) == wire::LockResult::Locked) wire::releasePortLock(name, lock);
}

bool readOwner(const std::string& folder, Owner* owner)
{
    std::ifstream note(folder + "/" + OWNER);
    long pid = 0;
    if (!(note >> pid)) return false;
    owner->pid = static_cast<pid_t>(pid);
    std::string line;
    std::getline(note, line);
    std::istringstream(line) >> owner->started;
    while (std::getline(note, line)) {
        if (!line.empty()) owner->locks.push_back(line);
    }
    return true;
}

// Folders of this user left by an operator that is gone. A folder without
// a note may be one whose owner is writing it now, and is left alone.
void removeLeftFolders(const std::string& base)
{
    DIR* dir = opendir(base.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> left;
    while (dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, PREFIX, sizeof PREFIX - 1) != 0) continue;
        std::string folder = base + "/" + entry->d_name;
        struct stat info { };
        if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) continue;
        Owner owner;
        if (readOwner(folder, &owner) && !alive(owner.pid, owner.started)) left.push_back(folder);
    }
    closedir(dir);
    for (const std::string& folder : left) removeRunFolder(folder);
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
    std::ofstream note(*folder + "/" + OWNER);
    note << getpid() << " " << startTime(getpid()) << "\n";
    return true;
}

std::string runSocket(const std::string& folder) { return folder + "/" + SOCKET; }

void noteRunLock(const std::string& folder, const std::string& lockName)
{
    std::ofstream(folder + "/" + OWNER, std::ios::app) << lockName << "\n";
}

void removeRunFolder(const std::string& folder)
{
    Owner owner;
    if (readOwner(folder, &owner)) {
        for (const std::string& lock : owner.locks) removeFreeLock(lock);
    }
    // Whatever else is there was not made by the run, and keeps the folder.
    for (const char* name : { SOCKET, OWNER }) unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

} // namespace vpop
