#include <stdio.h>

#include "cases/cases.h"
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

// The flag is compared with 1 and 0 exactly: any other value is neither
// online nor offline.
static bool expectOnlineFlag(PortHandle port, VX_BOOL* online, VX_BOOL expected, unsigned line)
{
    // Neither 1 nor 0, so a call that succeeds without setting the flag
    // fails either check.
    *online = -1;
    if (GetOnlineStatus(port, online) == VX_FALSE)
        return closeAndFail(port, line, "GetOnlineStatus returned VX_FALSE\n");
    if (*online != expected)
        return closeAndFail(
            port, line, expected == VX_TRUE ? "onlineStatus != VX_TRUE\n" : "onlineStatus != VX_FALSE\n");
    return true;
}

bool testGetOnlineStatus(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatus\n");
    VX_BOOL online = VX_FALSE;
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!expectOnlineFlag(port, &online, VX_TRUE, __LINE__)) return false;

    operatorPrompt("Make the printer offline, then hit enter");
    if (!expectOnlineFlag(port, &online, VX_FALSE, __LINE__)) return false;
    ClosePort(port);
    return true;
}

bool testGetOnlineStatusDisconnect(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatusDisconnect\n");
    VX_BOOL online = VX_FALSE;
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!expectOnlineFlag(port, &online, VX_TRUE, __LINE__)) return false;

    // A library may answer for a missing printer, as long as it does not
    // claim the printer is online. The flag still holds the last answer, so
    // a success that does not set it claims online too.
    operatorPrompt("Disconnect the printer and hit enter");
    if (GetOnlineStatus(port, &online) != VX_FALSE && online == VX_TRUE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (!expectOnlineFlag(port, &online, VX_TRUE, __LINE__)) return false;
    ClosePort(port);
    return true;
}
