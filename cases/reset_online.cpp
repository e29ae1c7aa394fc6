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
bool testGetOnlineStatus(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatus\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    VX_BOOL online = VX_FALSE;
    if (GetOnlineStatus(port, &online) == VX_FALSE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus returned VX_FALSE\n");
    if (online != VX_TRUE) return closeAndFail(port, __LINE__, "onlineStatus != VX_TRUE\n");

    operatorPrompt("Make the printer offline, then hit enter");
    if (GetOnlineStatus(port, &online) == VX_FALSE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus returned VX_FALSE\n");
    if (online != VX_FALSE) return closeAndFail(port, __LINE__, "onlineStatus != VX_FALSE\n");
    ClosePort(port);
    return true;
}

bool testGetOnlineStatusDisconnect(const char* portName, const char* portSettings)
{
    printf("testGetOnlineStatusDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    VX_BOOL online = VX_FALSE;
    if (GetOnlineStatus(port, &online) == VX_FALSE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus returned VX_FALSE\n");
    if (online != VX_TRUE) return closeAndFail(port, __LINE__, "onlineStatus != VX_TRUE\n");

    // A library may answer for a missing printer, as long as it does not
    // claim the printer is online.
    operatorPrompt("Disconnect the printer and hit enter");
    if (GetOnlineStatus(port, &online) != VX_FALSE && online == VX_TRUE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (GetOnlineStatus(port, &online) == VX_FALSE)
        return closeAndFail(port, __LINE__, "GetOnlineStatus returned VX_FALSE\n");
    if (online != VX_TRUE) return closeAndFail(port, __LINE__, "onlineStatus != VX_TRUE\n");
    ClosePort(port);
    return true;
}
