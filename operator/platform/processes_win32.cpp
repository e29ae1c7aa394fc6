#include "operator/platform/processes.h"

#include <chrono>

#include "operator/platform/host.h"
#include "platform/win_cmdline.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// After <windows.h>, which it needs.
#include <psapi.h>

namespace vpop {

namespace {

void closeHandle(void*& handle)
{
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

std::string systemError(const std::string& what)
{
    DWORD code = GetLastError();
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
        static_cast<DWORD>(sizeof text), nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    return what + ": " + (length > 0 ? std::string(text) : "error " + std::to_string(code));
}

// Our end stays out of the child, or the child would hold its own input open
// and never see it end.
bool makePipe(HANDLE* childEnd, HANDLE* ourEnd, bool childReads)
{
    SECURITY_ATTRIBUTES inherit { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    *childEnd = childReads ? readEnd : writeEnd;
    *ourEnd = childReads ? writeEnd : readEnd;
    return SetHandleInformation(*ourEnd, HANDLE_FLAG_INHERIT, 0) != 0;
}

// Everything the child starts stays in the job, so ending the job ends all
// of it, and the job ends with the operator.
HANDLE killOnCloseJob()
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

struct StartHandles {
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    HANDLE childError = nullptr;
    HANDLE ourInput = nullptr;
    HANDLE ourOutput = nullptr;
    HANDLE ourError = nullptr;

    ~StartHandles()
    {
        for (HANDLE handle : { childInput, childOutput, childError, ourInput, ourOutput, ourError })
            if (handle != nullptr) CloseHandle(handle);
    }
};

bool stdHandles(const ChildOptions& options, StartHandles& handles, std::string* error)
{
    if (options.pipeInput && !makePipe(&handles.childInput, &handles.ourInput, true)) {
        *error = systemError("pipe");
        return false;
    }
    if (options.pipeOutput && !makePipe(&handles.childOutput, &handles.ourOutput, false)) {
        *error = systemError("pipe");
        return false;
    }
    if (options.pipeError && !makePipe(&handles.childError, &handles.ourError, false)) {
        *error = systemError("pipe");
        return false;
    }
    if (options.quietOutput) {
        SECURITY_ATTRIBUTES inherit { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
        handles.childOutput = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        if (handles.childOutput == INVALID_HANDLE_VALUE) {
            handles.childOutput = nullptr;
            *error = systemError("NUL");
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<LoadedModule> loadedModule(const Child& child, const std::string& fileName)
{
    if (child.process == nullptr) return std::nullopt;
    HMODULE modules[1024];
    DWORD needed = 0;
    if (!EnumProcessModules(child.process, modules, sizeof modules, &needed)) return std::nullopt;
    std::wstring wanted = wideText(fileName);
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 1024; ++i) {
        wchar_t path[32768];
        DWORD length = GetModuleFileNameExW(child.process, modules[i], path, 32768);
        if (length == 0 || length >= 32768) continue;
        std::wstring module(path, length);
        size_t slash = module.find_last_of(L"\\/");
        std::wstring name = slash == std::wstring::npos ? module : module.substr(slash + 1);
        if (_wcsicmp(name.c_str(), wanted.c_str()) != 0) continue;
        int size
            = WideCharToMultiByte(CP_UTF8, 0, module.data(), static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        std::string narrow(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, module.data(), static_cast<int>(length), narrow.data(), size, nullptr, nullptr);
        LoadedModule loaded;
        loaded.path = narrow;
        if (!fileIdentity(narrow, &loaded.identity)) return std::nullopt;
        return loaded;
    }
    return std::nullopt;
}

std::optional<LoadedModule> moduleAt(const Child& child, uint64_t address)
{
    if (child.process == nullptr) return std::nullopt;
    HMODULE modules[1024];
    DWORD needed = 0;
    if (!EnumProcessModules(child.process, modules, sizeof modules, &needed)) return std::nullopt;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 1024; ++i) {
        if (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(modules[i])) != address) continue;
        wchar_t path[32768];
        DWORD length = GetModuleFileNameExW(child.process, modules[i], path, 32768);
        if (length == 0 || length >= 32768) return std::nullopt;
        int size = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        LoadedModule loaded;
        loaded.path.assign(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), loaded.path.data(), size, nullptr, nullptr);
        if (!fileIdentity(loaded.path, &loaded.identity)) return std::nullopt;
        return loaded;
    }
    return std::nullopt;
}

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool startChild(const std::string& path, const std::vector<std::string>& args, const ChildOptions& options,
    Child* child, std::string* error)
{
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    std::vector<char> commandLine(platform::COMMAND_LINE_CAPACITY);
    if (!platform::buildCommandLine(argv.data(), commandLine.data(), commandLine.size())) {
        *error = "cannot start " + path + ": the command line does not fit";
        return false;
    }
    StartHandles handles;
    if (!stdHandles(options, handles, error)) return false;

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles.childInput != nullptr ? handles.childInput : GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = handles.childOutput != nullptr ? handles.childOutput : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = handles.childError != nullptr ? handles.childError : GetStdHandle(STD_ERROR_HANDLE);
    // A group of its own: the console's Ctrl-C reaches only the operator,
    // which then ends the child itself.
    DWORD flags = CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP;
    PROCESS_INFORMATION process {};
    // Wide, so UTF-8 paths outside the ANSI code page arrive intact.
    std::wstring widePath = wideText(path);
    std::wstring wideLine = wideText(commandLine.data());
    std::wstring wideDirectory = wideText(options.directory);
    const wchar_t* directory = options.directory.empty() ? nullptr : wideDirectory.c_str();
    if (!CreateProcessW(
            widePath.c_str(), wideLine.data(), nullptr, nullptr, TRUE, flags, nullptr, directory, &startup, &process)) {
        *error = systemError("cannot start " + path);
        return false;
    }
    HANDLE job = killOnCloseJob();
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    child->process = process.hProcess;
    child->job = job;
    child->input = handles.ourInput;
    child->output = handles.ourOutput;
    child->error = handles.ourError;
    handles.ourInput = nullptr;
    handles.ourOutput = nullptr;
    handles.ourError = nullptr;
    return true;
}

bool waitChild(Child& child, double seconds, int* status)
{
    if (child.process == nullptr) return false;
    DWORD milliseconds = seconds <= 0 ? 0 : static_cast<DWORD>(seconds * 1000);
    if (WaitForSingleObject(child.process, milliseconds) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(child.process, &code);
    if (status) *status = static_cast<int>(code);
    closeHandle(child.process);
    return true;
}

void killChild(Child& child)
{
    if (child.job != nullptr) {
        TerminateJobObject(child.job, 1);
    } else if (child.process != nullptr) {
        TerminateProcess(child.process, 1);
    }
}

// Windows has no polite request to a console program that is not ours to
// signal: the child is ended at once.
void stopChild(Child& child, double graceSeconds)
{
    closeHandle(child.input);
    if (child.process != nullptr) {
        killChild(child);
        waitChild(child, graceSeconds + 5, nullptr);
        closeHandle(child.process);
    }
    closeHandle(child.job);
    closeHandle(child.output);
    closeHandle(child.error);
}

namespace {

size_t readPipe(HANDLE pipe, char* buffer, size_t size)
{
    // A zero-byte write on the other side completes a read with nothing in
    // it; only a failed read (the broken pipe) is the end.
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
        if (got > 0) return got;
    }
}

} // namespace

size_t readOutput(Child& child, char* buffer, size_t size) { return readPipe(child.output, buffer, size); }

size_t readError(Child& child, char* buffer, size_t size) { return readPipe(child.error, buffer, size); }

bool writeInput(Child& child, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        if (!WriteFile(child.input, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote, nullptr)
            || wrote == 0)
            return false;
        done += wrote;
    }
    return true;
}

} // namespace vpop
