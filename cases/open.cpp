#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cases/cases.h"
#include "platform/platform.h"
#include "runner/harness.h"

static const unsigned OPEN_REPEATS = 100;
// Room for what a library may open once and keep (a log, a thread, a helper
// module's handles) beyond what the first pair left; a ClosePort that leaks
// its connection leaves 99 more.
static const uint32_t HANDLE_SLACK = 8;
// The suffix's 24 characters and the terminator.
static const size_t BAD_NAME_EXTRA = 25;

bool testOpenPort(const char* portName, const char* portSettings)
{
    printf("testOpenPort\n");
    uint32_t handlesAfterFirst = 0;
    bool counted = false;
    for (unsigned i = 0; i < OPEN_REPEATS; ++i) {
        PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
        if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
        ClosePort(port);
        // The first pair may leave what a library sets up once for good.
        if (i == 0) counted = platform::countHandles(&handlesAfterFirst);
    }
    uint32_t handlesAfterAll = 0;
    if (counted && platform::countHandles(&handlesAfterAll) && handlesAfterAll > handlesAfterFirst + HANDLE_SLACK) {
        return failure(__LINE__, "%u more handles held after %u OpenPortA/ClosePort pairs than after the first\n",
            handlesAfterAll - handlesAfterFirst, OPEN_REPEATS);
    }
    return true;
}

bool testBadPortName(const char* portName, const char* portSettings)
{
    printf("testBadPortName\n");
    size_t size = strlen(portName) + BAD_NAME_EXTRA;
    char* badName = static_cast<char*>(malloc(size));
    if (badName == nullptr) return failure(__LINE__, "cannot allocate the bad port name\n");
    snprintf(badName, size, "%saReallyHorriblyBadSuffix", portName);
    platform::clearLastError();
    PortHandle port = OpenPortA(badName, portSettings, OPEN_TIME_LIMIT);
    uint32_t reason = platform::GetLastError();
    free(badName);
    if (port != nullptr)
        return closeAndFail(port, __LINE__, "OpenPortA did not return NULL when given a bad port name\n");
    // The held code for a port that cannot exist would make Test Port
    // Locking's proof hollow: any refusal would look like a hold.
    if (reason == platform::LAST_ERROR_ALREADY_EXISTS)
        return failure(__LINE__, "OpenPortA reported the port held (183) when given a bad port name\n");
    return true;
}
