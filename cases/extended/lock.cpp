#include <stdio.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

// Longer than a lock a library takes for stale after a pause, shorter than a
// technician's patience.
static const uint32_t LOCK_AGE_MS = 12000;
static const uint32_t PATH_SIZE = 4096;
static const char BAD_SUFFIX[] = "aReallyHorriblyBadSuffix";

static const Wanted WANT_NOTHING = { "", "nothing of the library: a fault of this computer" };
static const Wanted WANT_RELEASED = { "last error", "a port handle: the holder closed the port" };

// Whether the library takes `name` at all: a spelling it does not know is
// no test of its lock.
static bool libraryTakes(const char* name, const char* portSettings)
{
    PortHandle other = openPort(name, portSettings, OPEN_TIME_LIMIT);
    if (other == nullptr) return false;
    noteCall("ClosePort", ClosePort(other));
    return true;
}

bool testLockOtherNames(const char* portName, const char* portSettings)
{
    printf("testLockOtherNames\n");
    operatorPrompt("Make the printer online, then hit enter");
    char otherName[ANSWER_SIZE];
    bool named = operatorTypes(EXT_ASK_OTHER_NAME, otherName, sizeof otherName);
    if (named && !libraryTakes(otherName, portSettings)) {
        note("OpenPortA refuses the name %s; that step is skipped\n", otherName);
        named = false;
    }
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (named
        && !expectProbeRefused(
            port, otherName, portSettings, nullptr, { __LINE__, "other-name" }, "under another name"))
        return false;
    char elsewhere[PATH_SIZE];
    if (!platform::tempFolder(elsewhere, sizeof elsewhere))
        return closeAndFail(
            port, { __LINE__, "temp-folder" }, WANT_NOTHING, "the system names no folder for temporary files\n");
    if (!expectProbeRefused(
            port, portName, portSettings, elsewhere, { __LINE__, "other-folder" }, "from another folder"))
        return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}

// A program the holder starts must not keep the port once the holder let it go.
static bool releasedDespiteChild(PortHandle port, const char* portName, const char* portSettings)
{
    char self[PATH_SIZE];
    if (!platform::programFile(self, sizeof self))
        return closeAndFail(
            port, { __LINE__, "own-file" }, WANT_NOTHING, "devbench-extended cannot tell its own file\n");
    const char* const argv[] = { self, EXT_LINGER_ARGUMENT, nullptr };
    platform::ProgramHandle child = platform::startProgram(self, argv, nullptr);
    if (child == platform::NO_PROGRAM)
        return closeAndFail(
            port, { __LINE__, "start-copy" }, WANT_NOTHING, "cannot start a copy of devbench-extended\n");
    noteCall("ClosePort", ClosePort(port));
    PortHandle again = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    platform::waitProgram(child);
    if (again == nullptr)
        return failure({ __LINE__, "reopen" }, WANT_RELEASED,
            "OpenPortA return NULL after ClosePort while a program its holder started ran\n");
    noteCall("ClosePort", ClosePort(again));
    return true;
}

bool testLockOverTime(const char* portName, const char* portSettings)
{
    printf("testLockOverTime\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!expectProbeRefused(port, portName, portSettings, nullptr, { __LINE__, "at-once" }, "at once")) return false;
    platform::Sleep(LOCK_AGE_MS);
    if (!expectProbeRefused(port, portName, portSettings, nullptr, { __LINE__, "after-12s" }, "after 12 s held"))
        return false;
    return releasedDespiteChild(port, portName, portSettings);
}

// The holder's own calls after another program and a bad name were refused.
bool testLockBesideRefusals(const char* portName, const char* portSettings)
{
    printf("testLockBesideRefusals\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    // The reply to a query sent before the refusal must still come.
    if (!sendFirmwareQuery(port, { __LINE__, "query" })) return false;
    if (!expectProbeRefused(port, portName, portSettings, nullptr, { __LINE__, "reply-due" }, "while a reply was due"))
        return false;
    if (!expectFirmwareReply(port, 1, { __LINE__, "reply" })) return false;

    char badName[ANSWER_SIZE + sizeof BAD_SUFFIX];
    snprintf(badName, sizeof badName, "%s%s", portName, BAD_SUFFIX);
    PortHandle bad = openPort(badName, portSettings, OPEN_TIME_LIMIT);
    if (bad != nullptr) noteCall("ClosePort", ClosePort(bad));
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "after-bad-name" })) return false;

    PortHandle second = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (second != nullptr) {
        note("a second OpenPortA of the held port in the same process was let in\n");
        noteCall("ClosePort", ClosePort(second));
    }
    if (!expectProbeRefused(
            port, portName, portSettings, nullptr, { __LINE__, "after-second" }, "after a second open came and went"))
        return false;
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status" })) return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}

bool testLockAcrossDisconnect(const char* portName, const char* portSettings)
{
    printf("testLockAcrossDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    operatorPrompt("Disconnect the printer and hit enter");
    if (!failedCallsReturnHandles(port, { __LINE__, "unplugged-handles" })) return false;
    operatorPrompt("Connect the printer and hit enter");
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status" })) return false;
    if (!expectProbeRefused(
            port, portName, portSettings, nullptr, { __LINE__, "came-back" }, "after the printer came back"))
        return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}
