// <windows.h> first: the suite's header must not clash with its macros.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "platform/win_cmdline.h"

static_assert(platform::LAST_ERROR_ALREADY_EXISTS == ERROR_ALREADY_EXISTS, "the library's held-port code");

namespace platform {

// Long paths included.
static const DWORD MODULE_PATH_CAPACITY = 32768;
static const size_t MESSAGE_CAPACITY = 2 * MODULE_PATH_CAPACITY + 256;

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

// The last key handed to the suite: the newline of a whole line, until a
// key of the next one is read.
static int lastKey = '\n';

int readKey()
{
    lastKey = getchar();
    return lastKey;
}

// A console that edits lines hands a line on only once Enter ends it, and
// keeps whatever of it the C runtime has not yet asked for in a buffer of
// its own, which FlushConsoleInputBuffer does not empty. The runtime holds
// nothing itself: stdin is unbuffered, and it reads a line's CR LF end whole,
// keeping a look-ahead byte only after a CR without an LF, which such a
// console never gives. So the rest of a half read line is there to be read
// without waiting, and is read up to its end; then the keys not yet handed
// on as a line are flushed.
void discardTypedKeys()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return;
    if ((mode & ENABLE_LINE_INPUT) != 0) {
        while (lastKey != '\n' && lastKey != EOF) lastKey = getchar();
    }
    FlushConsoleInputBuffer(input);
}

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

// Folder names may lie outside every code page: a console is written wide,
// anything else (vpoperator's pipe, a file) gets UTF-8.
static void printWide(const wchar_t* text)
{
    fflush(stdout);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text, lstrlenW(text), &written, nullptr);
        return;
    }
    static char utf8[4 * MESSAGE_CAPACITY];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr) != 0) fputs(utf8, stdout);
    fflush(stdout);
}

static void append(wchar_t* message, const wchar_t* text)
{
    size_t length = wcslen(message);
    if (length + 1 < MESSAGE_CAPACITY) wcsncat(message, text, MESSAGE_CAPACITY - 1 - length);
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
    wchar_t program[64] = L"";
    MultiByteToWideChar(CP_UTF8, 0, programName, -1, program, 64);
    static wchar_t message[MESSAGE_CAPACITY];
    message[0] = L'\0';
    const wchar_t* parts[] = { program, L": Windows found no KelmorPort.dll beside ", program,
        L".exe and loaded the one in ", libraryFolder, L" instead; put the vendor's ",
        sizeof(void*) == 8 ? L"64" : L"32", L"-bit KelmorPort.dll into ", programFolder, L" and start again\n" };
    for (const wchar_t* part : parts) append(message, part);
    printWide(message);
    return false;
}

void quietCrashes() { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX); }

bool stderrIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// A function imported without __declspec(dllimport) is called through a stub
// in the program itself, `jmp *slot`, the slot holding the DLL's address.
static const void* pastImportStub(const void* address)
{
    const unsigned char* code = static_cast<const unsigned char*>(address);
    if (code[0] != 0xFF || code[1] != 0x25) return address;
    int32_t operand = 0;
    memcpy(&operand, code + 2, sizeof operand);
#if defined(_WIN64)
    const unsigned char* slot = code + 6 + operand; // relative to the next instruction
#else
    const unsigned char* slot = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(uint32_t(operand)));
#endif
    const void* target = nullptr;
    memcpy(&target, slot, sizeof target);
    return target;
}

bool moduleFile(const void* address, char* path, uint32_t size, const void** base)
{
    HMODULE module = nullptr;
    DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &module)) return false;
    if (module == GetModuleHandleW(nullptr)) {
        address = pastImportStub(address);
        if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &module)) return false;
    }
    static wchar_t wide[MODULE_PATH_CAPACITY];
    DWORD length = GetModuleFileNameW(module, wide, MODULE_PATH_CAPACITY);
    if (length == 0 || length >= MODULE_PATH_CAPACITY) return false;
    // A folder name outside every code page survives as UTF-8.
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, static_cast<int>(size), nullptr, nullptr) == 0) return false;
    *base = module;
    return true;
}

ProgramHandle startProgram(const char* path, const char* const* argv, const char* folder)
{
    // Whatever the child prints must follow what we printed before it.
    fflush(stdout);

    static char commandLine[COMMAND_LINE_CAPACITY];
    if (!buildCommandLine(argv, commandLine, sizeof commandLine)) return NO_PROGRAM;

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
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, TRUE, 0, nullptr, folder, &startup, &process)) {
        return NO_PROGRAM;
    }
    CloseHandle(process.hThread);
    return reinterpret_cast<ProgramHandle>(process.hProcess);
}

int waitProgram(ProgramHandle program)
{
    if (program == NO_PROGRAM) return -1;
    HANDLE process = reinterpret_cast<HANDLE>(program);
    DWORD status = 0;
    bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &status);
    CloseHandle(process);
    if (!ended) return -1;
    // Exit codes are 32-bit; exit(-1) in the child reads back as -1 here.
    return static_cast<int>(status);
}

int startAndWait(const char* path, const char* const* argv) { return waitProgram(startProgram(path, argv, nullptr)); }

bool programFile(char* path, uint32_t size)
{
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    return length > 0 && length < size;
}

bool currentFolder(char* path, uint32_t size)
{
    DWORD length = GetCurrentDirectoryA(size, path);
    return length > 0 && length < size;
}

bool tempFolder(char* path, uint32_t size)
{
    DWORD length = GetTempPathA(size, path);
    return length > 0 && length < size;
}

} // namespace platform
