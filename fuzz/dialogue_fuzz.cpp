// The operator dialogue with arbitrary bytes on standard input, against a
// healthy printer that passes everything at once and a clock that costs no
// time. Whatever the operator types, the program must end, stay inside its
// buffers and leave no port open. A run that keeps calling the library
// without taking more input is a hang, and aborts so it shows as a crash;
// a loop that calls nothing at all is caught by libFuzzer's -timeout.
//
// The library and the platform are this file's own rather than the unit
// tests' programmable fake, which logs every call as a string and keeps the
// name and settings of every open: at a hundred opens in Test Open Port and
// dozens of tests an input, that bookkeeping under the sanitizers was nearly
// all the time an input took. Here a call costs a few comparisons, and a
// call on a handle that is not open aborts where it is made.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "runner/harness.h"

namespace {

// The most calls one answer can start: all 21 tests with a healthy printer
// make a few hundred.
const long CALLS_PER_INPUT_BYTE = 2000;
const long WATCHDOG_EVERY = 64;
// No test holds more than one port at a time; a run that piles them up leaks.
const size_t MAX_OPEN_PORTS = 16;
const char FIRMWARE_QUERY_START[] = "\x1B\x23\x2A";
// With its terminating zero byte.
const char FIRMWARE_REPLY[] = "\x1B\x23\x2A,FUZZ\x0A";
const size_t FIRMWARE_REPLY_SIZE = sizeof FIRMWARE_REPLY;
// Silence lets the clock run, so a read loop meets its limit.
const uint32_t SILENT_READ_MS = 100;

long callsThisInput;
uint32_t clockNow;
PortHandle openPorts[MAX_OPEN_PORTS];
size_t openCount;
uintptr_t lastHandle = 0x1000;
// What the printer has still to send of its firmware reply.
size_t replyLeft;

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "dialogue_fuzz: %s\n", what);
    abort();
}

void call()
{
    // Where the input stands is asked only now and then: it is the one
    // costly step of a call.
    if (++callsThisInput % WATCHDOG_EVERY != 0) return;
    long consumed = ftell(stdin);
    if (callsThisInput > CALLS_PER_INPUT_BYTE * (consumed + 1)) {
        fprintf(stderr, "dialogue_fuzz: %ld library calls after %ld bytes of input\n", callsThisInput, consumed);
        abort();
    }
}

size_t findOpen(PortHandle port)
{
    for (size_t i = 0; i < openCount; ++i) {
        if (openPorts[i] == port) return i;
    }
    return MAX_OPEN_PORTS;
}

// Every operation but OpenPortA: the handle must be open.
void callOn(PortHandle port, const char* operation)
{
    call();
    if (findOpen(port) == MAX_OPEN_PORTS) {
        fprintf(stderr, "dialogue_fuzz: %s on a handle that is not open\n", operation);
        abort();
    }
}

void checkLevel(uint32_t level)
{
    if (level != VX_STATUS_LEVEL_1) fail("a status level other than 1");
}

VX_BOOL zeroRecord(void* record, size_t size)
{
    memset(record, 0, size);
    return VX_TRUE;
}

} // namespace

extern "C" {

PortHandle OpenPortA(const char*, const char*, uint32_t)
{
    call();
    if (openCount == MAX_OPEN_PORTS) fail("more ports open at once than any test holds");
    lastHandle += 16;
    PortHandle port = reinterpret_cast<PortHandle>(lastHandle);
    openPorts[openCount++] = port;
    return port;
}

VX_BOOL ClosePort(PortHandle port)
{
    call();
    size_t i = findOpen(port);
    if (i == MAX_OPEN_PORTS) fail("ClosePort of a handle that is not open");
    openPorts[i] = openPorts[--openCount];
    return VX_TRUE;
}

VX_BOOL WritePort(PortHandle port, const void* bytes, uint32_t size, uint32_t* written)
{
    callOn(port, "WritePort");
    if (size >= 3 && memcmp(bytes, FIRMWARE_QUERY_START, 3) == 0) replyLeft = FIRMWARE_REPLY_SIZE;
    *written = size;
    return VX_TRUE;
}

VX_BOOL ReadPort(PortHandle port, void* buffer, uint32_t size, uint32_t* got)
{
    callOn(port, "ReadPort");
    *got = static_cast<uint32_t>(replyLeft < size ? replyLeft : size);
    memcpy(buffer, FIRMWARE_REPLY + (FIRMWARE_REPLY_SIZE - replyLeft), *got);
    replyLeft -= *got;
    if (*got == 0) clockNow += SILENT_READ_MS;
    return VX_TRUE;
}

VX_BOOL ResetDevice(PortHandle port)
{
    callOn(port, "ResetDevice");
    return VX_TRUE;
}

VX_BOOL GetOnlineStatus(PortHandle port, VX_BOOL* online)
{
    callOn(port, "GetOnlineStatus");
    *online = VX_TRUE;
    return VX_TRUE;
}

VX_BOOL GetParsedStatus(PortHandle port, void* oldRecord)
{
    callOn(port, "GetParsedStatus");
    return zeroRecord(oldRecord, VX_STATUS_OLD_SIZE);
}

VX_BOOL GetParsedStatusEx(PortHandle port, void* record, uint32_t level)
{
    callOn(port, "GetParsedStatusEx");
    checkLevel(level);
    return zeroRecord(record, VX_STATUS_LEVEL1_SIZE);
}

VX_BOOL BeginCheckedBlockEx(PortHandle port, void* record, uint32_t level)
{
    callOn(port, "BeginCheckedBlockEx");
    checkLevel(level);
    return zeroRecord(record, VX_STATUS_LEVEL1_SIZE);
}

VX_BOOL EndCheckedBlockEx(PortHandle port, void* record, uint32_t level)
{
    callOn(port, "EndCheckedBlockEx");
    checkLevel(level);
    return zeroRecord(record, VX_STATUS_LEVEL1_SIZE);
}

} // extern "C"

namespace platform {
uint32_t GetTickCount() { return clockNow; }
void Sleep(uint32_t milliseconds) { clockNow += milliseconds; }
uint32_t GetLastError() { return 0; }
void clearLastError() { }
// No count: Test Open Port's check of handles is the library's, not the dialogue's.
bool countHandles(uint32_t*) { return false; }
void readKeysOneAtATime() { }
int readKey() { return getchar(); }
void discardTypedKeys() { }
bool stderrIsTerminal() { return true; }
bool libraryBesideProgram(const char*) { return true; }
// holdprobe, as a healthy library lets it: the port was held.
int startAndWait(const char*, const char* const*) { return 0; }
} // namespace platform

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!preparePayloads()) abort();
    // The dialogue's output is not examined here, and is large: standard
    // output refuses it, so the C library drops each print at once, after
    // the sanitizer has checked its arguments.
    if (freopen("/dev/null", "r", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    callsThisInput = 0;
    clockNow = 1000;
    replyLeft = 0;
    FILE* input = size == 0 ? fopen("/dev/null", "r") : fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (input == nullptr) abort();
    // A buffer of its own, for every input, would be fresh memory each time
    // under the sanitizer's quarantine.
    static char inputBuffer[4096];
    setvbuf(input, inputBuffer, _IOFBF, sizeof inputBuffer);
    FILE* console = stdin;
    stdin = input;
    int status = runDialogue(testProcedures, testNames);
    stdin = console;
    fclose(input);

    if (status != 0) abort();
    if (openCount != 0) fail("a port left open");
    return 0;
}
