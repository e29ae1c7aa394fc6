// <windows.h> first: the suite's header must not clash with its macros.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

#include <stdio.h>

#include "platform/win_cmdline.h"

static_assert(platform::LAST_ERROR_ALREADY_EXISTS == ERROR_ALREADY_EXISTS, "the library's held-port code");

namespace platform {

// Long paths included.
static const DWORD MODULE_PATH_CAPACITY = 32768;

uint32_t GetTickCount() { return ::GetTickCount(); }

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t GetLastError() { return ::GetLastError(); }

// The folder of a loaded module, with a trailing backslash, in its long
// form; false when it cannot be read.
static bool moduleFolder(HMODULE module, wchar_t* folder, DWORD size)
{
    static wchar_t path[MODULE_PATH_CAPACITY];
    DWORD length = GetModuleFileNameW(module, path, MODULE_PATH_CAPACITY);
    if (length == 0 || length >= MODULE_PATH_CAPACITY) return false;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash == nullptr) return false;
    slash[1] = L'\0';
    DWORD longLength = GetLongPathNameW(path, folder, size);
    if (longLength == 0 || longLength >= size) lstrcpynW(folder, path, static_cast<int>(size));
    return true;
}

// Console text in the console's own code page, so a folder named outside
// the ANSI one still reads right; UTF-8 without a console.
static const char* consoleText(const wchar_t* text, char* buffer, int size)
{
    UINT codePage = GetConsoleOutputCP();
    if (WideCharToMultiByte(codePage != 0 ? codePage : CP_UTF8, 0, text, -1, buffer, size, nullptr, nullptr) == 0)
        buffer[0] = '\0';
    return buffer;
}

bool libraryBesideProgram(const char* programName)
{
    static wchar_t libraryFolder[MODULE_PATH_CAPACITY];
    static wchar_t programFolder[MODULE_PATH_CAPACITY];
    HMODULE library = GetModuleHandleW(L"KelmorPort.dll");
    if (library == nullptr || !moduleFolder(library, libraryFolder, MODULE_PATH_CAPACITY)
        || !moduleFolder(nullptr, programFolder, MODULE_PATH_CAPACITY))
        return true;
    if (CompareStringOrdinal(libraryFolder, -1, programFolder, -1, TRUE) == CSTR_EQUAL) return true;
    static char found[3 * MODULE_PATH_CAPACITY];
    static char own[3 * MODULE_PATH_CAPACITY];
    printf("%s: Windows found no KelmorPort.dll beside %s.exe and loaded the one in %s instead; "
           "put the vendor's %d-bit KelmorPort.dll into %s and start again\n",
        programName, programName, consoleText(libraryFolder, found, static_cast<int>(sizeof found)),
        static_cast<int>(sizeof(void*) * 8), consoleText(programFolder, own, static_cast<int>(sizeof own)));
    fflush(stdout);
    return false;
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
