#include "operator/platform/host.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// After <windows.h>, which it needs.
#include <shellapi.h>

namespace vpop {

const char devbenchProgram[] = "devbench.exe";
const char devbenchExtendedProgram[] = "devbench-extended.exe";
const char libraryFileName[] = "KelmorPort.dll";

namespace {

std::mutex interruptLock;
std::function<void()> interruptCallback;
bool interrupted = false;

BOOL WINAPI onConsoleEvent(DWORD)
{
    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> hold(interruptLock);
        if (interrupted) return TRUE;
        interrupted = true;
        callback.swap(interruptCallback);
    }
    if (callback) callback();
    return TRUE;
}

} // namespace

std::wstring wideText(const std::string& text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

static std::string utf8(const wchar_t* text, size_t size)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return { argv, argv + argc };
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(utf8(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return arguments;
}

FILE* openFile(const std::string& path, const char* mode)
{
    return _wfopen(wideText(path).c_str(), wideText(mode).c_str());
}

// Also where the operator's crash, or devbench's (which inherits the mode),
// becomes an exit status instead of a dialog nobody at a CI server answers.
void openStandardStreams() { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX); }

std::string programDirectory(const char* argv0)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string self = length > 0 && length < MAX_PATH ? utf8(path, length) : std::string(argv0);
    return directoryOf(self);
}

std::string absolutePath(const std::string& path)
{
    wchar_t resolved[MAX_PATH];
    if (_wfullpath(resolved, wideText(path).c_str(), MAX_PATH) == nullptr) return path;
    return utf8(resolved, wcslen(resolved));
}

std::string joinPath(const std::string& directory, const std::string& name) { return directory + "\\" + name; }

std::string directoryOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash);
}

bool fileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(wideText(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::vector<std::string> matchingFiles(const std::string& argument)
{
    if (argument.find_first_of("*?") == std::string::npos) return { argument };
    // FindFirstFile matches the last part only; a wildcard in a folder's name is taken as it is.
    size_t slash = argument.find_last_of("\\/:");
    std::string folder = slash == std::string::npos ? "" : argument.substr(0, slash + 1);
    std::vector<std::string> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wideText(argument).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(folder + utf8(found.cFileName, wcslen(found.cFileName)));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

bool handleIdentity(HANDLE file, FileIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity->device = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    identity->written = static_cast<int64_t>(
        (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
    return true;
}

} // namespace

bool fileIdentity(FILE* file, FileIdentity* identity)
{
    intptr_t handle = _get_osfhandle(_fileno(file));
    return handle != -1 && handleIdentity(reinterpret_cast<HANDLE>(handle), identity);
}

// Opened to be asked only, sharing everything: a library in use stays so.
// Backup semantics let a folder be asked too.
bool onOverlayFileSystem(const std::string&) { return false; }

bool fileIdentity(const std::string& path, FileIdentity* identity)
{
    HANDLE file = CreateFileW(wideText(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool told = handleIdentity(file, identity);
    CloseHandle(file);
    return told;
}

void printText(const std::string& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) {
        fputs(text.c_str(), stdout);
        return;
    }
    fflush(stdout);
    std::wstring wide = wideText(text);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

std::string fileVersion(const std::string& path)
{
    DWORD ignored = 0;
    std::wstring file = wideText(path);
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return "";
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return "";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) return "";
    char text[64];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(info->dwFileVersionMS)),
        static_cast<unsigned long>(LOWORD(info->dwFileVersionMS)),
        static_cast<unsigned long>(HIWORD(info->dwFileVersionLS)),
        static_cast<unsigned long>(LOWORD(info->dwFileVersionLS)));
    return text;
}

std::string userDataDirectory()
{
    const wchar_t* data = _wgetenv(L"LOCALAPPDATA");
    return data == nullptr ? std::string() : utf8(data, wcslen(data));
}

bool makeDirectories(const std::string& path, std::string* error)
{
    // Past a drive's "C:\" or a share's "\\server\share\".
    for (size_t at = path.find_first_of("\\/", 3);; at = path.find_first_of("\\/", at + 1)) {
        std::string part = path.substr(0, at);
        if (!CreateDirectoryW(wideText(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS
            && GetLastError() != ERROR_ACCESS_DENIED) {
            *error = "cannot make the folder " + part + " (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        if (at == std::string::npos) break;
    }
    DWORD attributes = GetFileAttributesW(wideText(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    *error = "cannot make the folder " + path;
    return false;
}

std::string hostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return "";
    return utf8(name, size);
}

std::string utcTimestamp()
{
    time_t now = time(nullptr);
    struct tm utc { };
    gmtime_s(&utc, &now);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

time_t utcSeconds(std::tm* fields) { return _mkgmtime(fields); }

FILE* openRegularFile(const std::string& path, size_t limit, std::string* error)
{
    HANDLE file = CreateFileW(wideText(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return *error = "cannot read " + path + ": Windows error " + std::to_string(GetLastError()), nullptr;
    LARGE_INTEGER size {};
    bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    bool fits = regular && static_cast<uint64_t>(size.QuadPart) <= limit;
    int fd = fits ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY) : -1;
    FILE* stream = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
    if (stream != nullptr) return stream;
    if (fd >= 0) {
        _close(fd);
    } else {
        CloseHandle(file);
    }
    if (!regular) *error = path + ": it is not a file (a pipe or a device); name a run's record";
    if (regular) *error = path + ": it is over " + std::to_string(limit >> 20) + " MiB, too large to be a run record";
    if (fits) *error = "cannot read " + path + ": no stream for it";
    return nullptr;
}

bool installInterrupts() { return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0; }

int interruptFd() { return -1; }

void onInterrupt(std::function<void()> callback)
{
    std::lock_guard<std::mutex> hold(interruptLock);
    if (interrupted) {
        // Too late to wait for: say so at once, from another thread as promised.
        std::thread(std::move(callback)).detach();
        return;
    }
    interruptCallback = std::move(callback);
}

namespace {

std::atomic<bool> keysStopped { false };

// Whether the console holds a whole line: only then is it read.
bool lineTyped(HANDLE console)
{
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(console, &count) || count == 0) return false;
    std::vector<INPUT_RECORD> records(count);
    if (!PeekConsoleInputW(console, records.data(), count, &count)) return false;
    for (DWORD i = 0; i < count; ++i) {
        const INPUT_RECORD& record = records[i];
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown
            && record.Event.KeyEvent.uChar.UnicodeChar == L'\r')
            return true;
    }
    return false;
}

} // namespace

// A console read left pending when the operator ends keeps the keys typed
// after it, under Wine at least: record.cmd's closing pause never got one.
// So the console is read only when a line waits, and looked at a few times
// a second otherwise, as nothing wakes a wait for a line alone.
size_t readKeys(char* buffer, size_t size)
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode) && (mode & ENABLE_LINE_INPUT) != 0) {
        while (!lineTyped(in)) {
            if (keysStopped) return 0;
            WaitForSingleObject(in, 100);
            Sleep(20);
        }
    }
    DWORD got = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

void stopReadingKeys() { keysStopped = true; }

bool keysFromTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

} // namespace vpop
