// The operator dialogue with arbitrary bytes on standard input, against a
// library that passes everything at once and a clock that costs no time.
// Whatever the operator types, the program must end, stay inside its
// buffers and leave no port open. A run that keeps calling the library
// without taking more input is a hang, and aborts so it shows as a crash;
// a loop that calls nothing at all is caught by libFuzzer's -timeout.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runner/harness.h"
#include "tests/fakes/fake_port.h"

namespace {

// The most calls one answer can start: all 21 tests with a healthy printer
// make a few hundred.
const long CALLS_PER_INPUT_BYTE = 2000;
long callsThisInput = 0;

void checkCalls()
{
    for (const std::string& call : fake::library().calls) {
        if (call.compare(0, 11, "BAD-HANDLE:") == 0) {
            fprintf(stderr, "dialogue_fuzz: %s\n", call.c_str());
            abort();
        }
    }
}

void watchdog()
{
    long consumed = ftell(stdin);
    if (++callsThisInput > CALLS_PER_INPUT_BYTE * (consumed + 1)) {
        fprintf(stderr, "dialogue_fuzz: %ld library calls after %ld bytes of input\n", callsThisInput, consumed);
        abort();
    }
    // The call log is only read for bad handles; keep it short.
    if (fake::library().calls.size() > 4096) {
        checkCalls();
        fake::library().calls.clear();
    }
}

const std::string FIRMWARE_REPLY("\x1B\x23\x2A,FUZZ\x0A", 10);
std::string pendingReply;

void installHealthyPrinter()
{
    fake::reset();
    pendingReply.clear();
    fake::Library& lib = fake::library();
    lib.open = [](const char*, const char*, uint32_t) {
        static uintptr_t next = 0x1000;
        watchdog();
        return reinterpret_cast<PortHandle>(next += 16);
    };
    lib.close = [](PortHandle) {
        watchdog();
        return VX_TRUE;
    };
    lib.write = [](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
        watchdog();
        if (size >= 3 && memcmp(bytes, "\x1B\x23\x2A", 3) == 0) pendingReply = FIRMWARE_REPLY;
        *written = size;
        return VX_TRUE;
    };
    lib.read = [](PortHandle, void* buffer, uint32_t size, uint32_t* got) {
        watchdog();
        *got = static_cast<uint32_t>(pendingReply.size() < size ? pendingReply.size() : size);
        memcpy(buffer, pendingReply.data(), *got);
        pendingReply.erase(0, *got);
        // Silence lets the clock run, so a read loop meets its limit.
        if (*got == 0) fake::advance(100);
        return VX_TRUE;
    };
    lib.reset = [](PortHandle) {
        watchdog();
        return VX_TRUE;
    };
    lib.onlineStatus = [](PortHandle, VX_BOOL* online) {
        watchdog();
        *online = VX_TRUE;
        return VX_TRUE;
    };
    lib.parsedStatus = [](PortHandle, unsigned char* record, uint32_t size) {
        watchdog();
        memset(record, 0, size);
        return VX_TRUE;
    };
    lib.beginBlock = [](PortHandle, unsigned char* record) {
        watchdog();
        memset(record, 0, VX_STATUS_LEVEL1_SIZE);
        return VX_TRUE;
    };
    lib.endBlock = lib.beginBlock;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!preparePayloads()) abort();
    // The dialogue's output is not examined here, and is large.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    installHealthyPrinter();
    callsThisInput = 0;
    FILE* input = size == 0 ? fopen("/dev/null", "r") : fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (input == nullptr) abort();
    FILE* console = stdin;
    stdin = input;
    int status = runDialogue(testProcedures, testNames);
    stdin = console;
    fclose(input);

    if (status != 0) abort();
    checkCalls();
    if (fake::library().openHandles != 0 || fake::library().badCloses != 0) abort();
    return 0;
}
