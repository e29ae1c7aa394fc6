// <windows.h> first: the suite's header must not clash with its macros.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

#include <stdio.h>

#include "platform/win_cmdline.h"

static_assert(platform::LAST_ERROR_ALREADY_EXISTS == ERROR_ALREADY_EXISTS, "the library's held-port code");

namespace platform {

uint32_t GetTickCount() { return ::GetTickCount(); }

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t GetLastError() { return ::GetLastError(); }

void clearLastError() { ::SetLastError(0); }

bool countHandles(uint32_t* count)
{
    // A process always holds some handles: Wine answers 0, which is no count.
    DWORD handles = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &handles) || handles == 0) return false;
    *count = handles;
    return true;
}

// A console, not a pipe or a file.
static bool keysFromConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void readKeysOneAtATime()
{
    if (keysFromConsole()) setvbuf(stdin, nullptr, _IONBF, 0);
}

void discardTypedKeys()
{
    if (keysFromConsole()) FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

int startAndWait(const char* path, const char* const* argv)
{
    // Whatever the child prints must follow what we printed before it.
    fflush(stdout);

    static char commandLine[COMMAND_LINE_CAPACITY];
    if (!buildCommandLine(argv, commandLine, sizeof commandLine)) return -1;

    // The child shares our console and standard handles, so its lines land in
    // the same stream as ours even when that stream is a pipe or a file.
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    // Given as the application name, path is completed from the current
    // directory and never searched for. It is not made absolute here: an ANSI
    // full path turns a folder name outside the code page into "?".
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);

    DWORD status = 0;
    bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0
        && GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    if (!ended) return -1;
    // Exit codes are 32-bit; exit(-1) in the child reads back as -1 here.
    return static_cast<int>(status);
}

} // namespace platform
