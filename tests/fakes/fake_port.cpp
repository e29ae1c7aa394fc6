#include "tests/fakes/fake_port.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/platform.h"
#include "runner/harness.h"

namespace fake {
namespace {

Library& state()
{
    static Library instance;
    return instance;
}

uint32_t clockNow = 1000;
uint64_t sleptTotal = 0;
uint32_t lastErrorCode = 0;
uint32_t handleCount = 0;
std::function<int(const char*, const char* const*)> starter;
std::function<void()> handleCountHook;
std::set<PortHandle> liveHandles;
uintptr_t nextHandle = 0x1000;

} // namespace

Library& library() { return state(); }

void reset(uint32_t start)
{
    clockNow = start;
    sleptTotal = 0;
    lastErrorCode = 0;
    handleCount = 20;
    starter = [](const char*, const char* const*) { return 0; };
    handleCountHook = [] {};
    liveHandles.clear();
    forgetAnswers();
    Library& lib = state();
    lib = Library();
    lib.open = [](const char*, const char*, uint32_t) { return reinterpret_cast<PortHandle>(nextHandle += 16); };
    lib.close = [](PortHandle) { return VX_TRUE; };
    lib.write = [](PortHandle, const void*, uint32_t size, uint32_t* written) {
        *written = size;
        return VX_TRUE;
    };
    lib.read = [](PortHandle, void*, uint32_t, uint32_t* got) {
        *got = 0;
        return VX_TRUE;
    };
    lib.reset = [](PortHandle) { return VX_TRUE; };
    lib.onlineStatus = [](PortHandle, VX_BOOL* online) {
        *online = VX_TRUE;
        return VX_TRUE;
    };
    lib.parsedStatus = [](PortHandle, unsigned char* record, uint32_t size) {
        memset(record, 0, size);
        return VX_TRUE;
    };
    lib.beginBlock = [](PortHandle, unsigned char* record) {
        memset(record, 0, VX_STATUS_LEVEL1_SIZE);
        return VX_TRUE;
    };
    lib.endBlock = lib.beginBlock;
}

uint32_t now() { return clockNow; }
void advance(uint32_t milliseconds) { clockNow += milliseconds; }
uint32_t& lastError() { return lastErrorCode; }
uint32_t& handles() { return handleCount; }
std::function<void()>& beforeHandleCount() { return handleCountHook; }
std::function<int(const char*, const char* const*)>& startAndWait() { return starter; }
uint64_t slept() { return sleptTotal; }

void setWord(unsigned char* record, uint32_t offset, VX_BOOL value) { memcpy(record + offset, &value, sizeof value); }

size_t count(const std::string& operation)
{
    const std::vector<std::string>& calls = state().calls;
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), operation));
}

} // namespace fake

namespace platform {
uint32_t GetTickCount() { return fake::now(); }
void Sleep(uint32_t milliseconds)
{
    fake::advance(milliseconds);
    fake::sleptTotal += milliseconds;
}
uint32_t GetLastError() { return fake::lastErrorCode; }
void clearLastError() { fake::lastErrorCode = 0; }
bool countHandles(uint32_t* count)
{
    fake::handleCountHook();
    *count = fake::handleCount;
    return true;
}
// Input here is always a file, which keeps its keys.
void readKeysOneAtATime() { }
int readKey() { return getchar(); }
void discardTypedKeys() { }
// A person's console: the lines for a program reading the pipes stay out.
bool stderrIsTerminal() { return true; }
int startAndWait(const char* path, const char* const* argv) { return fake::starter(path, argv); }
} // namespace platform

using fake::state;

extern "C" {

PortHandle OpenPortA(const char* portName, const char* portSettings, uint32_t timeLimit)
{
    fake::Library& lib = state();
    lib.calls.push_back("OpenPortA");
    lib.openedNames.push_back(portName);
    lib.openedSettings.push_back(portSettings);
    lib.openTimeLimits.push_back(timeLimit);
    PortHandle port = lib.open(portName, portSettings, timeLimit);
    if (port != nullptr) {
        fake::liveHandles.insert(port);
        ++lib.openHandles;
    }
    return port;
}

VX_BOOL ClosePort(PortHandle port)
{
    fake::Library& lib = state();
    lib.calls.push_back("ClosePort");
    if (fake::liveHandles.erase(port) == 1) {
        --lib.openHandles;
    } else {
        ++lib.badCloses;
    }
    fflush(stdout);
    lib.closeOutputOffsets.push_back(static_cast<long>(lseek(STDOUT_FILENO, 0, SEEK_CUR)));
    return lib.close(port);
}

// Operations on a handle that is not open are recorded as bad, so a test
// that uses a closed handle cannot pass unnoticed.
static void record(const char* operation, PortHandle port)
{
    state().calls.push_back(operation);
    if (fake::liveHandles.count(port) == 0) state().calls.push_back(std::string("BAD-HANDLE:") + operation);
}

VX_BOOL WritePort(PortHandle port, const void* bytes, uint32_t size, uint32_t* written)
{
    record("WritePort", port);
    return state().write(port, bytes, size, written);
}

VX_BOOL ReadPort(PortHandle port, void* buffer, uint32_t size, uint32_t* got)
{
    record("ReadPort", port);
    return state().read(port, buffer, size, got);
}

VX_BOOL ResetDevice(PortHandle port)
{
    record("ResetDevice", port);
    return state().reset(port);
}

VX_BOOL GetOnlineStatus(PortHandle port, VX_BOOL* online)
{
    record("GetOnlineStatus", port);
    return state().onlineStatus(port, online);
}

VX_BOOL GetParsedStatus(PortHandle port, void* oldRecord)
{
    record("GetParsedStatus", port);
    return state().parsedStatus(port, static_cast<unsigned char*>(oldRecord), VX_STATUS_OLD_SIZE);
}

VX_BOOL GetParsedStatusEx(PortHandle port, void* record_, uint32_t level)
{
    record("GetParsedStatusEx", port);
    if (level != VX_STATUS_LEVEL_1) state().calls.push_back("BAD-LEVEL");
    return state().parsedStatus(port, static_cast<unsigned char*>(record_), VX_STATUS_LEVEL1_SIZE);
}

VX_BOOL BeginCheckedBlockEx(PortHandle port, void* record_, uint32_t level)
{
    record("BeginCheckedBlockEx", port);
    if (level != VX_STATUS_LEVEL_1) state().calls.push_back("BAD-LEVEL");
    return state().beginBlock(port, static_cast<unsigned char*>(record_));
}

VX_BOOL EndCheckedBlockEx(PortHandle port, void* record_, uint32_t level)
{
    record("EndCheckedBlockEx", port);
    if (level != VX_STATUS_LEVEL_1) state().calls.push_back("BAD-LEVEL");
    return state().endBlock(port, static_cast<unsigned char*>(record_));
}

} // extern "C"
