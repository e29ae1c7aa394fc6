#include <stdio.h>

#include "cases/cases.h"
#include "runner/harness.h"

bool testResetDevice(const char*, const char*)
{
    printf("testResetDevice\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testResetDeviceDisconnect(const char*, const char*)
{
    printf("testResetDeviceDisconnect\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testGetOnlineStatus(const char*, const char*)
{
    printf("testGetOnlineStatus\n");
    return failure(__LINE__, "test not built yet\n");
}

bool testGetOnlineStatusDisconnect(const char*, const char*)
{
    printf("testGetOnlineStatusDisconnect\n");
    return failure(__LINE__, "test not built yet\n");
}
