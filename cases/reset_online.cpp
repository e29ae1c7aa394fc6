#include <stdio.h>

#include "cases/cases.h"
#include "cases/status_steps.h"
#include "runner/harness.h"

// A library may answer for a missing printer, as long as its flag does not
// claim the printer: only 1 does.
static const Wanted WANT_NOT_ONLINE = { "online", "VX_FALSE, or a flag other than 1" };
static const Wanted WANT_FLAG_SET = { "online", "VX_FALSE, or the flag set" };

bool testResetDevice(const char* portName, const char* portSettings)
{
    printf("testResetDevice\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (noteCall("ResetDevice", ResetDevice(port)) == VX_FALSE)
        return closeAndFail(port, { __LINE__, "reset" }, WANT_SUCCESS, "ResetDevice returned VX_FALSE\n");
    ClosePort(port);
    return true;
}

bool testResetDeviceDisconnect(const char* portName, const char* portSettings)
{
    printf("testResetDeviceDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (noteCall("ResetDevice", ResetDevice(port)) == VX_FALSE)
        return closeAndFail(port, { __LINE__, "reset-online" }, WANT_SUCCESS, "ResetDevice returned VX_FALSE\n");

    operatorPrompt("Disconnect the printer and hit enter");
    if (noteCall("ResetDevice", ResetDevice(port)) != VX_FALSE)
        return closeAndFail(
            port, { __LINE__, "reset-unplugged" }, WANT_FAILURE, "ResetDevice did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (noteCall("ResetDevice", ResetDevice(port)) == VX_FALSE)
        return closeAndFail(port, { __LINE__, "reset-replugged" }, WANT_SUCCESS, "ResetDevice returned VX_FALSE\n");
    ClosePort(port);
    return true;
}

bool testGetOnlineStatus(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatus\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!expectOnlineFlag(port, VX_TRUE, { __LINE__, "online" })) return false;

    // The record must agree, whether the cover or the Online key took the
    // printer offline.
    operatorPrompt("Make the printer offline, then hit enter");
    if (!expectOnlineFlag(port, VX_FALSE, { __LINE__, "offline" })) return false;
    if (!expectRecordOffline(port, { __LINE__, "offline-record" })) return false;
    ClosePort(port);
    return true;
}

bool testGetOnlineStatusDisconnect(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatusDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!expectOnlineFlag(port, VX_TRUE, { __LINE__, "online" })) return false;

    // Success with any flag but 1 is the expected failure ("unknown", 2, 0);
    // a flag still holding the pattern was never written, which is no answer.
    operatorPrompt("Disconnect the printer and hit enter");
    VX_BOOL result = VX_FALSE;
    uint32_t online = 0;
    Check unplugged = { __LINE__, "unplugged" };
    if (!askOnlineStatus(port, unplugged, &result, &online)) return false;
    if (result != VX_FALSE && online == VX_TRUE)
        return closeAndFail(port, unplugged, WANT_NOT_ONLINE, "GetOnlineStatus did not fail as expected\n");
    if (result != VX_FALSE && online == LENT_PATTERN)
        return closeAndFail(port, { __LINE__, "unplugged-unset" }, WANT_FLAG_SET,
            "GetOnlineStatus returned VX_TRUE without setting onlineStatus\n");

    operatorPrompt("Connect the printer and hit enter");
    if (!expectOnlineFlag(port, VX_TRUE, { __LINE__, "replugged" })) return false;
    ClosePort(port);
    return true;
}
