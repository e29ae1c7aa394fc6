// Every test procedure against a library that fails one call at a time: the
// 1st call of the run, then the 2nd, and so on until a run makes fewer calls
// than the one chosen to fail. Whatever path a failure takes, a port opened
// must be closed exactly once, never used after its close, and closed before
// the failure line is printed (but for testRead's mismatch limit, which
// prints first).
//
// The printer behind the fake follows the last operator prompt printed, so
// that without an injected failure every test passes and every later call is
// reached.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cases/cases.h"
#include "runner/harness.h"
#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace {

struct Printer {
    bool connected = true;
    bool offline = false;
    bool slipBOF = false;
    bool slipTOF = false;
    bool slipCOF = false;
    bool validationPaper = false;
};

// The console output so far: the fake's stdout is a file while a test runs.
std::string outputSoFar() { return fake::capturedSoFar(); }

bool contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// What the operator has done by now, read from the last instruction given.
Printer printerNow()
{
    std::string out = outputSoFar();
    std::string last;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        if (contains(line, "printer") || contains(line, "paper")) last = line;
        start = end + 1;
    }
    Printer printer;
    if (contains(last, "Disconnect")) {
        printer.connected = false;
    } else if (contains(last, "offline")) {
        printer.offline = true;
    } else if (contains(last, "Put paper in the BOF")) {
        printer.slipBOF = true;
    } else if (contains(last, "Put paper in the TOF")) {
        printer.slipTOF = true;
    } else if (contains(last, "BOF and wait")) {
        printer.slipCOF = true;
    } else if (contains(last, "COF and wait")) {
        printer.validationPaper = true;
    }
    return printer;
}

const std::string FIRMWARE_REPLY("\x1B\x23\x2A,KP-1\x0A", 10); // with its closing NUL

// Calls so far in this run, and the one that fails (0: none).
unsigned callsMade;
unsigned failingCall;
std::string pendingReply;

bool injectFailure() { return ++callsMade == failingCall; }

VX_BOOL fillRecord(unsigned char* record, uint32_t size)
{
    Printer printer = printerNow();
    if (!printer.connected) return VX_FALSE;
    memset(record, 0, size);
    uint32_t paperEmpty = size == VX_STATUS_OLD_SIZE ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1;
    fake::setWord(record, VX_OFFSET_OFFLINE, printer.offline);
    fake::setWord(record, VX_OFFSET_COVER_OPEN, printer.offline);
    fake::setWord(record, paperEmpty, printer.offline);
    if (size == VX_STATUS_LEVEL1_SIZE) {
        fake::setWord(record, VX_OFFSET_SLIP_BOF, printer.slipBOF);
        fake::setWord(record, VX_OFFSET_SLIP_TOF, printer.slipTOF);
        fake::setWord(record, VX_OFFSET_SLIP_COF, printer.slipCOF);
        fake::setWord(record, VX_OFFSET_VALIDATION_PAPER_PRESENCE, printer.validationPaper);
    }
    return VX_TRUE;
}

// A printer that does what each prompt said, with call number failingCall
// failing whatever the printer's state.
void installPrinter(unsigned failAt)
{
    fake::reset();
    callsMade = 0;
    failingCall = failAt;
    pendingReply.clear();
    fake::Library& lib = fake::library();
    lib.open = [](const char* name, const char*, uint32_t) {
        static uintptr_t next = 0x5000;
        if (injectFailure() || contains(name, "BadSuffix")) return PortHandle(nullptr);
        return reinterpret_cast<PortHandle>(next += 16);
    };
    lib.close = [](PortHandle) { return injectFailure() ? VX_FALSE : VX_TRUE; };
    lib.write = [](PortHandle, const void* bytes, uint32_t size, uint32_t* written) {
        if (injectFailure()) return VX_FALSE;
        Printer printer = printerNow();
        if (!printer.connected) return VX_FALSE;
        // An offline printer takes nothing, and the clock runs on meanwhile.
        *written = printer.offline ? 0 : size;
        if (printer.offline) fake::advance(10);
        if (size >= 3 && memcmp(bytes, "\x1B\x23\x2A", 3) == 0) pendingReply = FIRMWARE_REPLY;
        return VX_TRUE;
    };
    lib.read = [](PortHandle, void* buffer, uint32_t size, uint32_t* got) {
        if (injectFailure()) return VX_FALSE;
        if (!printerNow().connected) return VX_FALSE;
        *got = static_cast<uint32_t>(std::min<size_t>(size, pendingReply.size()));
        memcpy(buffer, pendingReply.data(), *got);
        pendingReply.erase(0, *got);
        if (*got == 0) fake::advance(10);
        return VX_TRUE;
    };
    lib.reset = [](PortHandle) { return injectFailure() || !printerNow().connected ? VX_FALSE : VX_TRUE; };
    lib.onlineStatus = [](PortHandle, VX_BOOL* online) {
        if (injectFailure()) return VX_FALSE;
        Printer printer = printerNow();
        if (!printer.connected) return VX_FALSE;
        *online = printer.offline ? VX_FALSE : VX_TRUE;
        return VX_TRUE;
    };
    lib.parsedStatus = [](PortHandle, unsigned char* record, uint32_t size) {
        return injectFailure() ? VX_FALSE : fillRecord(record, size);
    };
    lib.beginBlock
        = [](PortHandle, unsigned char* record) { return injectFailure() ? VX_FALSE : fillRecord(record, 176); };
    lib.endBlock = lib.beginBlock;
}

// More answers than any test has prompts.
const std::string ANSWERS(64, '\n');

std::string runTest(unsigned test, bool* passed)
{
    if (bulkPayload == nullptr && !preparePayloads()) abort();
    return fake::runConsole(ANSWERS, [&] { *passed = testProcedures[test]("COM1", "9600"); });
}

TEST(ResourceDiscipline, ThePrinterModelPassesEveryTest)
{
    for (unsigned test = 0; test < TEST_COUNT; ++test) {
        SCOPED_TRACE(testNames[test]);
        installPrinter(0);
        bool passed = false;
        std::string out = runTest(test, &passed);
        EXPECT_TRUE(passed) << out;
    }
}

TEST(ResourceDiscipline, EveryFailingCallLeavesThePortClosedOnceAndBeforeTheFailureLine)
{
    for (unsigned test = 0; test < TEST_COUNT; ++test) {
        for (unsigned failAt = 1;; ++failAt) {
            SCOPED_TRACE(std::string(testNames[test]) + ", failing call " + std::to_string(failAt));
            installPrinter(failAt);
            bool passed = false;
            std::string out = runTest(test, &passed);
            const fake::Library& lib = fake::library();

            size_t opened = static_cast<size_t>(lib.openHandles) + fake::count("ClosePort");
            EXPECT_EQ(lib.openHandles, 0) << out;
            EXPECT_EQ(lib.badCloses, 0) << out;
            for (const std::string& call : lib.calls) EXPECT_EQ(call.find("BAD-HANDLE:"), std::string::npos) << out;

            size_t at = out.find("failure: line(");
            if (at != std::string::npos && opened > 0 && !lib.closeOutputOffsets.empty()) {
                long close = lib.closeOutputOffsets.back();
                if (contains(out, "wrongCount")) {
                    EXPECT_GT(close, static_cast<long>(at)) << out;
                } else {
                    EXPECT_LE(close, static_cast<long>(at)) << out;
                }
            }
            // The probe does the locking test's opening, in its own process.
            if (testProcedures[test] == testPortLocking) {
                EXPECT_EQ(fake::count("OpenPortA"), 0u);
            }
            if (callsMade < failAt) break;
        }
    }
}

// A library that answers VX_TRUE without setting its count, flag or record
// leaves the guard's pattern there: the check that reads it must fail, at a
// disconnect step as at the first call of a test.
TEST(ResourceDiscipline, SuccessWithoutAValueFailsTheCheckThatReadsIt)
{
    enum Kind { WRITE, READ, ONLINE, RECORD };
    const struct {
        TestProcedure test;
        Kind kind;
        bool whileUnplugged; // else on the first call of its kind
        const char* text;
    } cases[] = {
        { testWriteDisconnect, WRITE, true, "WritePort did not fail as expected\n" },
        { testReadDisconnect, READ, true, "ReadPort did not fail as expected\n" },
        { testGetOnlineStatusDisconnect, ONLINE, true,
            "GetOnlineStatus returned VX_TRUE without setting onlineStatus\n" },
        { testWrite, WRITE, false, "WritePort reported more bytes written than it was given\n" },
        { testRead, READ, false, "ReadPort reported more bytes than it was asked for\n" },
        { testGetOnlineStatus, ONLINE, false, "onlineStatus != VX_TRUE\n" },
        { testGetParsedStatus, RECORD, false, "offlineStatus != VX_FALSE\n" },
        { testHybridGetParsedStatus, RECORD, false, "offlineStatus == VX_FALSE\n" },
        { testBeginCheckedBlock, RECORD, false, "offlineStatus != VX_FALSE\n" },
    };
    if (bulkPayload == nullptr && !preparePayloads()) abort();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        installPrinter(0);
        unsigned calls = 0;
        auto unset = [&](Kind kind) {
            if (kind != c.kind) return false;
            return c.whileUnplugged ? !printerNow().connected : ++calls == 1;
        };
        fake::Library& lib = fake::library();
        auto write = lib.write;
        lib.write = [&, write](PortHandle port, const void* bytes, uint32_t size, uint32_t* written) {
            return unset(WRITE) ? VX_TRUE : write(port, bytes, size, written);
        };
        auto read = lib.read;
        lib.read = [&, read](PortHandle port, void* buffer, uint32_t size, uint32_t* got) {
            return unset(READ) ? VX_TRUE : read(port, buffer, size, got);
        };
        auto online = lib.onlineStatus;
        lib.onlineStatus
            = [&, online](PortHandle port, VX_BOOL* flag) { return unset(ONLINE) ? VX_TRUE : online(port, flag); };
        auto status = lib.parsedStatus;
        lib.parsedStatus = [&, status](PortHandle port, unsigned char* record, uint32_t size) {
            return unset(RECORD) ? VX_TRUE : status(port, record, size);
        };
        auto block = lib.beginBlock;
        lib.beginBlock = [&, block](PortHandle port, unsigned char* record) {
            return unset(RECORD) ? VX_TRUE : block(port, record);
        };
        bool passed = true;
        std::string out = fake::runConsole(ANSWERS, [&] { passed = c.test("COM1", "9600"); });
        EXPECT_FALSE(passed);
        fake::expectFailureAfterClose(out, c.text);
    }
}

// Writes one word outside what the library was lent, before it or past it.
std::string writeOutside(
    const char* call, void* lent, uint32_t size, const char* what, bool before, uint32_t pastBy = sizeof(uint32_t))
{
    unsigned char* bytes = static_cast<unsigned char*>(lent);
    if (before) {
        memset(bytes - sizeof(uint32_t), 0, sizeof(uint32_t));
    } else {
        memset(bytes + size, 0, pastBy);
    }
    return std::string(call) + " wrote " + (before ? "before" : "past") + " the " + std::to_string(size) + "-byte "
        + what + "\n";
}

// A library that writes outside a buffer it was lent, on one lent call at a
// time, past its end or (every second call) before its start: the old record
// at the level-1 size, the read buffer and its count in turn, a count or a
// flag as a 64-bit word. The test must stop at that call, close the port and
// name the call and the buffer.
TEST(ResourceDiscipline, WritingOutsideALentBufferEndsTheTestAtThatCall)
{
    for (unsigned test = 0; test < TEST_COUNT; ++test) {
        for (unsigned damageAt = 1;; ++damageAt) {
            SCOPED_TRACE(std::string(testNames[test]) + ", lent call " + std::to_string(damageAt));
            installPrinter(0);
            unsigned lentCalls = 0;
            std::string expected;
            bool before = damageAt % 2 == 0;
            auto damage = [&](const char* call, void* lent, uint32_t size, const char* what) {
                if (++lentCalls != damageAt) return;
                uint32_t pastBy = size == VX_STATUS_OLD_SIZE ? VX_STATUS_LEVEL1_SIZE - size : sizeof(uint32_t);
                expected = writeOutside(call, lent, size, what, before, pastBy);
            };
            fake::Library& lib = fake::library();
            auto write = lib.write;
            lib.write = [&, write](PortHandle port, const void* bytes, uint32_t size, uint32_t* written) {
                VX_BOOL result = write(port, bytes, size, written);
                damage("WritePort", written, sizeof(uint32_t), "count");
                return result;
            };
            auto read = lib.read;
            lib.read = [&, read](PortHandle port, void* buffer, uint32_t size, uint32_t* got) {
                VX_BOOL result = read(port, buffer, size, got);
                if (lentCalls % 4 < 2) {
                    damage("ReadPort", buffer, size, "buffer");
                } else {
                    damage("ReadPort", got, sizeof(uint32_t), "count");
                }
                return result;
            };
            auto online = lib.onlineStatus;
            lib.onlineStatus = [&, online](PortHandle port, VX_BOOL* flag) {
                VX_BOOL result = online(port, flag);
                damage("GetOnlineStatus", flag, sizeof(VX_BOOL), "online flag");
                return result;
            };
            auto status = lib.parsedStatus;
            lib.parsedStatus = [&, status](PortHandle port, unsigned char* record, uint32_t size) {
                VX_BOOL result = status(port, record, size);
                damage(size == VX_STATUS_OLD_SIZE ? "GetParsedStatus" : "GetParsedStatusEx", record, size, "record");
                return result;
            };
            auto block = lib.beginBlock;
            lib.beginBlock = [&, block](PortHandle port, unsigned char* record) {
                VX_BOOL result = block(port, record);
                damage("BeginCheckedBlockEx", record, VX_STATUS_LEVEL1_SIZE, "record");
                return result;
            };
            lib.endBlock = [&, block](PortHandle port, unsigned char* record) {
                VX_BOOL result = block(port, record);
                damage("EndCheckedBlockEx", record, VX_STATUS_LEVEL1_SIZE, "record");
                return result;
            };
            bool passed = true;
            std::string out = runTest(test, &passed);
            if (lentCalls < damageAt) break;
            EXPECT_FALSE(passed);
            fake::expectFailureAfterClose(out, expected);
            EXPECT_EQ(lentCalls, damageAt) << "calls after the damage";
        }
    }
}

} // namespace
