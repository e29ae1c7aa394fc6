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

// While the printer is unplugged, a library that answers VX_TRUE without
// setting its count or flag leaves the value of the call before; the
// disconnect step must see that value, not a fresh zero.
TEST(ResourceDiscipline, SuccessWithoutAValueAtTheDisconnectStepFails)
{
    const struct {
        TestProcedure test;
        const char* text;
    } cases[] = {
        { testWriteDisconnect, "WritePort did not fail as expected\n" },
        { testReadDisconnect, "ReadPort did not fail as expected\n" },
        { testGetOnlineStatusDisconnect, "GetOnlineStatus did not fail as expected\n" },
    };
    if (bulkPayload == nullptr && !preparePayloads()) abort();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        installPrinter(0);
        fake::Library& lib = fake::library();
        auto write = lib.write;
        lib.write = [write](PortHandle port, const void* bytes, uint32_t size, uint32_t* written) {
            return printerNow().connected ? write(port, bytes, size, written) : VX_TRUE;
        };
        auto read = lib.read;
        lib.read = [read](PortHandle port, void* buffer, uint32_t size, uint32_t* got) {
            return printerNow().connected ? read(port, buffer, size, got) : VX_TRUE;
        };
        auto online = lib.onlineStatus;
        lib.onlineStatus = [online](PortHandle port, VX_BOOL* flag) {
            return printerNow().connected ? online(port, flag) : VX_TRUE;
        };
        bool passed = true;
        std::string out = fake::runConsole(ANSWERS, [&] { passed = c.test("COM1", "9600"); });
        EXPECT_FALSE(passed);
        fake::expectFailureAfterClose(out, c.text);
    }
}

// A library that writes past the record it is given, on one record call at a
// time: the old record at the level-1 size, the others a word long. The test
// must stop at that call, close the port and name the call and the record.
TEST(ResourceDiscipline, WritingPastARecordEndsTheTestAtThatCall)
{
    for (unsigned test = 0; test < TEST_COUNT; ++test) {
        for (unsigned overrunAt = 1;; ++overrunAt) {
            SCOPED_TRACE(std::string(testNames[test]) + ", record call " + std::to_string(overrunAt));
            installPrinter(0);
            unsigned recordCalls = 0;
            std::string expected;
            auto overrun = [&](const char* call, unsigned char* record, uint32_t size) {
                if (++recordCalls != overrunAt) return;
                uint32_t written = size == VX_STATUS_OLD_SIZE ? VX_STATUS_LEVEL1_SIZE : size + 4;
                memset(record + size, 0, written - size);
                expected = std::string(call) + " wrote past the " + std::to_string(size) + "-byte record\n";
            };
            fake::Library& lib = fake::library();
            auto status = lib.parsedStatus;
            lib.parsedStatus = [&, status](PortHandle port, unsigned char* record, uint32_t size) {
                VX_BOOL result = status(port, record, size);
                overrun(size == VX_STATUS_OLD_SIZE ? "GetParsedStatus" : "GetParsedStatusEx", record, size);
                return result;
            };
            auto block = lib.beginBlock;
            lib.beginBlock = [&, block](PortHandle port, unsigned char* record) {
                VX_BOOL result = block(port, record);
                overrun("BeginCheckedBlockEx", record, VX_STATUS_LEVEL1_SIZE);
                return result;
            };
            lib.endBlock = [&, block](PortHandle port, unsigned char* record) {
                VX_BOOL result = block(port, record);
                overrun("EndCheckedBlockEx", record, VX_STATUS_LEVEL1_SIZE);
                return result;
            };
            bool passed = true;
            std::string out = runTest(test, &passed);
            if (recordCalls < overrunAt) break;
            EXPECT_FALSE(passed);
            fake::expectFailureAfterClose(out, expected);
            EXPECT_EQ(recordCalls, overrunAt) << "calls after the overrun";
        }
    }
}

} // namespace
