#include <stdio.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

// A printer takes a moment to come back from a reset.
static const uint32_t RESET_SETTLE_MS = 2000;
// Longer than any pause in devbench's tests, shorter than a technician's
// coffee: a session a library lets go stale shows here.
static const uint32_t IDLE_MS = 15000;

static const Wanted WANT_RESTARTED = { "", "the technician's yes: the printer restarted" };

bool testResetRestarts(const char* portName, const char* portSettings)
{
    printf("testResetRestarts\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (noteCall("ResetDevice", ResetDevice(port)) == VX_FALSE)
        return closeAndFail(port, { __LINE__, "reset" }, WANT_SUCCESS, "ResetDevice returned VX_FALSE\n");
    if (operatorSays(EXT_ASK_RESET) == SAID_NO)
        return closeAndFail(port, { __LINE__, "restarted" }, WANT_RESTARTED,
            "ResetDevice returned VX_TRUE but the printer did not reset\n");
    platform::Sleep(RESET_SETTLE_MS);
    // The handle serves on after the reset, and holds the port through it and
    // a print job; the port is free at once after ClosePort all the same.
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status-after" })) return false;
    if (!sendFirmwareQuery(port, { __LINE__, "query" })) return false;
    if (!expectFirmwareReply(port, 100, { __LINE__, "reply" })) return false;
    if (!writeLine(port, "devbench-extended: written after a reset", { __LINE__, "write-after" })) return false;
    if (!expectProbeRefused(
            port, portName, portSettings, nullptr, { __LINE__, "held-after" }, "after a reset and a print job"))
        return false;
    noteCall("ClosePort", ClosePort(port));
    return expectProbeLetIn(
        portName, portSettings, { __LINE__, "free-after" }, "at once after ClosePort of a session that printed");
}

bool testIdleSession(const char* portName, const char* portSettings)
{
    printf("testIdleSession\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status-before" })) return false;
    platform::Sleep(IDLE_MS);
    // The first call after the pause is the one a stale session fails.
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status-after" })) return false;
    if (!expectOnlineFlag(port, VX_TRUE, { __LINE__, "online-after" })) return false;
    if (!writeLine(port, "devbench-extended: written after 15 s without a call", { __LINE__, "write-after" }))
        return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}
