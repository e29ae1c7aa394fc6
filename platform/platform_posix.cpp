#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace platform {

uint32_t GetTickCount()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void Sleep(uint32_t milliseconds)
{
    timespec left;
    left.tv_sec = milliseconds / 1000u;
    left.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) { }
}

uint32_t GetLastError()
{
    // A library says "held by another process" with EBUSY, or passes on
    // flock's own EWOULDBLOCK (EAGAIN here). No errno value reaches 183, so
    // the mapping cannot be confused with another code.
    int error = errno;
    if (error == EBUSY || error == EWOULDBLOCK) return LAST_ERROR_ALREADY_EXISTS;
    return static_cast<uint32_t>(error);
}

void clearLastError() { errno = 0; }

bool countHandles(uint32_t* count)
{
    // /dev/fd where there is no /proc (the BSDs, macOS).
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) folder = opendir("/dev/fd");
    if (folder == nullptr) return false;
    uint32_t entries = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') ++entries;
    }
    closedir(folder);
    *count = entries;
    return true;
}

void readKeysOneAtATime()
{
    if (isatty(STDIN_FILENO)) setvbuf(stdin, nullptr, _IONBF, 0);
}

// Unbuffered at a terminal, the C library holds no key: the rest of a half
// read line waits in the terminal's queue, which the flush empties.
int readKey() { return getchar(); }

void discardTypedKeys()
{
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

bool libraryBesideProgram(const char*) { return true; }

void quietCrashes() { }

bool stderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool moduleFile(const void* address, char* path, uint32_t size, const void** base)
{
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') return false;
    if (strlen(info.dli_fname) >= size) return false;
    snprintf(path, size, "%s", info.dli_fname);
    *base = info.dli_fbase;
    return true;
}

ProgramHandle startProgram(const char* path, const char* const* argv, const char* folder)
{
    // Whatever the child prints must follow what we printed before it.
    fflush(stdout);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return NO_PROGRAM;
    pid_t child;
    bool started = (folder == nullptr || posix_spawn_file_actions_addchdir_np(&actions, folder) == 0)
        && posix_spawn(&child, path, &actions, nullptr, const_cast<char* const*>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started ? static_cast<ProgramHandle>(child) : NO_PROGRAM;
}

int waitProgram(ProgramHandle program)
{
    if (program == NO_PROGRAM) return -1;
    int status;
    while (waitpid(static_cast<pid_t>(program), &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    // A child killed by a signal has no exit status; report it as a shell would.
    return 128 + WTERMSIG(status);
}

int startAndWait(const char* path, const char* const* argv) { return waitProgram(startProgram(path, argv, nullptr)); }

static bool fits(const char* text, char* path, uint32_t size)
{
    if (text == nullptr || strlen(text) >= size) return false;
    snprintf(path, size, "%s", text);
    return true;
}

bool programFile(char* path, uint32_t size)
{
    if (size == 0) return false;
    ssize_t length = readlink("/proc/self/exe", path, size - 1);
    if (length <= 0 || static_cast<uint32_t>(length) >= size - 1) return false;
    path[length] = '\0';
    return true;
}

bool currentFolder(char* path, uint32_t size) { return size > 0 && getcwd(path, size) != nullptr; }

bool tempFolder(char* path, uint32_t size)
{
    const char* chosen = getenv("TMPDIR");
    return fits(chosen != nullptr && chosen[0] == '/' ? chosen : "/tmp", path, size);
}

} // namespace platform
