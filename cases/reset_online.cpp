#include <stdio.h>

#include "cases/cases.h"
#include "cases/status_checks.h"
#include "runner/harness.h"

bool testResetDevice(const char* portName, const char* portSettings)
{
    printf("testResetDevice\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (ResetDevice(port) == VX_FALSE) return closeAndFail(port, __LINE__, "ResetDevice returned VX_FALSE\n");
    ClosePort(port);
    return true;
}

bool testResetDeviceDisconnect(const char* portName, const char* portSettings)
{
    printf("testResetDeviceDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (ResetDevice(port) == VX_FALSE) return closeAndFail(port, __LINE__, "ResetDevice returned VX_FALSE\n");

    operatorPrompt("Disconnect the printer and hit enter");
    if (ResetDevice(port) != VX_FALSE) return closeAndFail(port, __LINE__, "ResetDevice did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (ResetDevice(port) == VX_FALSE) return closeAndFail(port, __LINE__, "ResetDevice returned VX_FALSE\n");
    ClosePort(port);
    return true;
}

bool askOnlineStatus(PortHandle port, unsigned line, VX_BOOL* result, VX_BOOL* online)
{
    LentWord flag;
    *result = GetOnlineStatus(port, lendFlag(&flag));
    if (!checkLent(port, line, "GetOnlineStatus", flag, "online flag")) return false;
    *online = static_cast<VX_BOOL>(lentValue(flag));
    return true;
}

// The flag is compared with 1 and 0 exactly: any other value, the guard's
// pattern of a flag left unset among them, is neither online nor offline.
bool expectOnlineFlag(PortHandle port, VX_BOOL expected, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    VX_BOOL online = VX_FALSE;
    if (!askOnlineStatus(port, line, &result, &online)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "GetOnlineStatus returned VX_FALSE\n");
    if (online != expected)
        return closeAndFail(
            port, line, expected == VX_TRUE ? "onlineStatus != VX_TRUE\n" : "onlineStatus != VX_FALSE\n");
    return true;
}

bool testGetOnlineStatus(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatus\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!expectOnlineFlag(port, VX_TRUE, __LINE__)) return false;

    // The record must agree, whether the cover or the Online key took the
    // printer offline.
    operatorPrompt("Make the printer offline, then hit enter");
    if (!expectOnlineFlag(port, VX_FALSE, __LINE__)) return false;
    if (!expectRecordOffline(port, __LINE__)) return false;
    ClosePort(port);
    return true;
}

bool testGetOnlineStatusDisconnect(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatusDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!expectOnlineFlag(port, VX_TRUE, __LINE__)) return false;

    // A library may answer for a missing printer, as long as its answer is
    // offline: 1 claims the printer, and any other value, an unset flag
    // among them, is no answer.
    operatorPrompt("Disconnect the printer and hit enter");
    VX_BOOL result = VX_FALSE;
    VX_BOOL online = VX_FALSE;
    if (!askOnlineStatus(port, __LINE__, &result, &online)) return false;
    if (result != VX_FALSE && online != VX_FALSE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (!expectOnlineFlag(port, VX_TRUE, __LINE__)) return false;
    ClosePort(port);
    return true;
}
