#include "operator/host.h"

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <mutex>
#include <thread>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace vpop {

const char devbenchProgram[] = "devbench.exe";
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

std::string programDirectory(const char* argv0)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self = length > 0 && length < sizeof path ? std::string(path, length) : std::string(argv0);
    return directoryOf(self);
}

std::string absolutePath(const std::string& path)
{
    char resolved[MAX_PATH];
    if (_fullpath(resolved, path.c_str(), sizeof resolved) == nullptr) return path;
    return resolved;
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
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A DLL beside the program is found before any on the path.
std::string librarySearchPath() { return ""; }

std::string fileVersion(const std::string& path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return "";
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return "";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) return "";
    char text[64];
    snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(info->dwFileVersionMS)),
        static_cast<unsigned long>(LOWORD(info->dwFileVersionMS)),
        static_cast<unsigned long>(HIWORD(info->dwFileVersionLS)),
        static_cast<unsigned long>(LOWORD(info->dwFileVersionLS)));
    return text;
}

std::string hostName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "";
    return std::string(name, size);
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

size_t readKeys(char* buffer, size_t size)
{
    DWORD got = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

bool keysFromTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

} // namespace vpop
