#include <stdio.h>

#include "cases/cases.h"
#include "platform/platform.h"
#include "runner/harness.h"

// Started from the current directory only; the same text is the probe's first
// entry, which it uses to start its own copy.
#ifdef _WIN32
static const char PROBE_PROGRAM[] = "holdprobe.exe";
#else
static const char PROBE_PROGRAM[] = "holdprobe";
#endif

bool testPortLocking(const char* portName, const char* portSettings)
{
    printf("testPortLocking\n");
    const char* const probeArgv[] = { PROBE_PROGRAM, portName, portSettings, nullptr };
    if (platform::startAndWait(PROBE_PROGRAM, probeArgv) == 0) return true;
    return failure(__LINE__, "holdprobe did not return EXIT_SUCESS\n");
}
