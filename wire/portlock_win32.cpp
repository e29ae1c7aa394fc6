#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <errno.h>

#include "wire/portlock.h"

namespace wire {

// A named event held open for the life of the handle: it exists while any
// holder has it, the system closes it with a dead process, and its handle is
// not inherited by started programs. A second creator, in this process or
// another, finds it already there.
std::string portLockPlace(const std::string& name)
{
    std::string objectName = "Local\\KelmorPort:";
    for (char c : name) objectName += c == '\\' ? '/' : c;
    return objectName;
}

// Nothing is left behind: the system removes the event with its last handle.
LockResult acquirePortLock(const std::string& name, LockHandle* lock, std::string* error)
{
    std::string objectName = portLockPlace(name);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, objectName.c_str());
    if (event == nullptr) {
        *error = "cannot create the lock " + objectName + ": error " + std::to_string(GetLastError());
        return LockResult::Failed;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        return LockResult::Busy;
    }
    *lock = reinterpret_cast<LockHandle>(event);
    return LockResult::Locked;
}

void releasePortLock(const std::string&, LockHandle lock)
{
    if (lock != NO_LOCK) CloseHandle(reinterpret_cast<HANDLE>(lock));
}

namespace {

DWORD windowsError(int posixError)
{
    switch (posixError) {
    case EBUSY:
        // What the caller reads with GetLastError(): the port is held elsewhere.
        return ERROR_ALREADY_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ECONNREFUSED:
        return ERROR_CONNECTION_REFUSED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace

void reportError(int posixError)
{
    errno = posixError;
    SetLastError(windowsError(posixError));
}

} // namespace wire
