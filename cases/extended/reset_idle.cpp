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

bool testResetRestarts(const char* portName, const char* portSettings)
{
    printf("testResetRestarts\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (ResetDevice(port) == VX_FALSE) return closeAndFail(port, __LINE__, "ResetDevice returned VX_FALSE\n");
    if (operatorSays(EXT_ASK_RESET) == SAID_NO)
        return closeAndFail(port, __LINE__, "ResetDevice returned VX_TRUE but the printer did not reset\n");
    platform::Sleep(RESET_SETTLE_MS);
    // The handle serves on after the reset.
    if (!expectStatus(port, CALL_STATUS_EX, PRINTER_READY, __LINE__)) return false;
    if (!sendFirmwareQuery(port, __LINE__) || !expectFirmwareReply(port, 100, __LINE__)) return false;
    ClosePort(port);
    return true;
}

bool testIdleSession(const char* portName, const char* portSettings)
{
    printf("testIdleSession\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!expectStatus(port, CALL_STATUS_EX, PRINTER_READY, __LINE__)) return false;
    platform::Sleep(IDLE_MS);
    // The first call after the pause is the one a stale session fails.
    if (!expectStatus(port, CALL_STATUS_EX, PRINTER_READY, __LINE__)) return false;
    if (!expectOnlineFlag(port, VX_TRUE, __LINE__)) return false;
    if (!writeLine(port, "devbench-extended: written after 15 s without a call", __LINE__)) return false;
    ClosePort(port);
    return true;
}
