#include "standin/lock_faults.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace standin {

#ifndef _WIN32

namespace {

std::string currentFolderLock(const std::string& name) { return "kelmorport-" + name + ".lock"; }

} // namespace

wire::LockResult lockInCurrentFolder(const std::string& name, wire::LockHandle* lock)
{
    int fd = open(currentFolderLock(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return wire::LockResult::Failed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return wire::LockResult::Busy;
    }
    *lock = fd;
    return wire::LockResult::Locked;
}

void releaseCurrentFolderLock(const std::string& name, wire::LockHandle lock)
{
    if (lock == wire::NO_LOCK) return;
    unlink(currentFolderLock(name).c_str());
    close(static_cast<int>(lock));
}

bool removeIfOlder(const std::string& name, uint32_t ms)
{
    std::string path = wire::portLockPlace(name);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    double age = static_cast<double>(now.tv_sec - info.st_mtim.tv_sec)
        + static_cast<double>(now.tv_nsec - info.st_mtim.tv_nsec) / 1e9;
    return age * 1000 > ms && unlink(path.c_str()) == 0;
}

void letInherit(wire::LockHandle lock)
{
    if (lock != wire::NO_LOCK) fcntl(static_cast<int>(lock), F_SETFD, 0);
}

void releaseKeepingFile(wire::LockHandle lock)
{
    if (lock != wire::NO_LOCK) close(static_cast<int>(lock));
}

void unlockKeeping(wire::LockHandle lock)
{
    if (lock != wire::NO_LOCK) flock(static_cast<int>(lock), LOCK_UN);
}

void leakOneHandle()
{
    int leaked = open("/dev/null", O_RDONLY | O_CLOEXEC);
    (void)leaked;
}

#else

wire::LockResult lockInCurrentFolder(const std::string& name, wire::LockHandle* lock)
{
    std::string error;
    return wire::acquirePortLock(name, lock, &error);
}

void releaseCurrentFolderLock(const std::string& name, wire::LockHandle lock) { wire::releasePortLock(name, lock); }

bool removeIfOlder(const std::string&, uint32_t) { return false; }

void letInherit(wire::LockHandle) { }

void unlockKeeping(wire::LockHandle) { }

void releaseKeepingFile(wire::LockHandle lock) { wire::releasePortLock("", lock); }

void leakOneHandle() { }

#endif

} // namespace standin
