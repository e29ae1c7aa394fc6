#include "probe/holdprobe.h"

#include <stdio.h>

#include "platform/platform.h"
#include "portlib/KelmorPort.h"
#include "portlib/open_limit.h"

static const int PARENT_ENTRIES = 3;
static const int CHILD_ENTRIES = 4;
// Only marks the child role; the child never reads it.
static const char CHILD_MARK[] = ".";

static int probeFailure(unsigned line)
{
    printf("failure - %u\n", line);
    return 1;
}

static int holdAndStartChild(const char* const* argv)
{
    PortHandle port = OpenPortA(argv[1], argv[2], OPEN_TIME_LIMIT);
    if (port == nullptr) return probeFailure(__LINE__);
    const char* const childArgv[] = { argv[0], argv[1], argv[2], CHILD_MARK, nullptr };
    int firstChild = platform::startAndWait(argv[0], childArgv);
    // A library that gives the port up as it refuses it (taking the holder's
    // lock for a stale one) refuses once only: a second copy must be refused too.
    int secondChild = firstChild == 0 ? platform::startAndWait(argv[0], childArgv) : 0;
    // The hold must cover both children's whole attempts.
    ClosePort(port);
    // Only a refusal proves the hold: a child that could not start, crashed
    // or ended any other way proved nothing.
    if (firstChild != 0) return probeFailure(__LINE__);
    if (secondChild != 0) return probeFailure(__LINE__);
    return 0;
}

// Silent: the parent owns the console and judges by the status alone.
static int tryHeldPort(const char* portName, const char* portSettings)
{
    // A code left from before the call is not the library's answer.
    platform::clearLastError();
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return platform::GetLastError() == platform::LAST_ERROR_ALREADY_EXISTS ? 0 : 1;
    ClosePort(port);
    return 1;
}

int holdprobeMain(int argc, const char* const* argv)
{
    if (argc == PARENT_ENTRIES) return holdAndStartChild(argv);
    if (argc == CHILD_ENTRIES) return tryHeldPort(argv[1], argv[2]);
    return probeFailure(__LINE__);
}
