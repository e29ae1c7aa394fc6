#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cases/cases.h"
#include "runner/harness.h"

static const unsigned OPEN_REPEATS = 100;
// The suffix's 24 characters and the terminator.
static const size_t BAD_NAME_EXTRA = 25;

bool testOpenPort(const char* portName, const char* portSettings)
{
    printf("testOpenPort\n");
    for (unsigned i = 0; i < OPEN_REPEATS; ++i) {
        PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
        if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
        ClosePort(port);
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
    PortHandle port = OpenPortA(badName, portSettings, OPEN_TIME_LIMIT);
    free(badName);
    if (port == nullptr) return true;
    return closeAndFail(port, __LINE__, "OpenPortA did not return NULL when given a bad port name\n");
}
