#include <stdio.h>

#include "cases/cases.h"
#include "platform/platform.h"
#include "runner/harness.h"

// Started from the current directory only; the same text is the probe's first
// entry, which it uses to start its own copy.
#ifdef _WIN32
static const char PROBE_PROGRAM[] = "holdprobe.exe";
static const char GUIDE[] = "README.txt, \"When Test Port Locking fails\"";
static const char NOT_LOADED_HINT[] = "hint: %s could not load its 32-bit KelmorPort.dll (status 0x%X: none there, or "
                                      "one of the other width); see %s\n";
static const char CRASHED_HINT[] = "hint: %s crashed (status 0x%X), likely on a KelmorPort.dll of the other calling "
                                   "convention; see %s\n";
#else
static const char PROBE_PROGRAM[] = "holdprobe";
static const char GUIDE[] = "README.md, \"When Test Port Locking fails\"";
static const char NOT_LOADED_HINT[] = "hint: %s could not load libKelmorPort.so (status %u: none found, or one of "
                                      "another machine); see %s\n";
// The status of a crash is 128 + the signal's number.
static const char CRASHED_HINT[] = "hint: %s crashed (status %u: killed by a signal); see %s\n";
#endif

static const Wanted WANT_PROBE_PASSED = { "", "status 0: the port held, and the probe's copy refused with 183" };

// One plain line after the failure line, for what the status tells; a probe
// that ran to its own verdict has already printed its line.
static void printProbeHint(int status)
{
    unsigned code = static_cast<unsigned>(status);
    switch (platform::programEnd(status)) {
    case platform::PROGRAM_NOT_STARTED:
        printf("hint: %s could not be started: it must be in the current folder; see %s\n", PROBE_PROGRAM, GUIDE);
        break;
    case platform::PROGRAM_NOT_LOADED:
        printf(NOT_LOADED_HINT, PROBE_PROGRAM, code, GUIDE);
        break;
    case platform::PROGRAM_CRASHED:
        printf(CRASHED_HINT, PROBE_PROGRAM, code, GUIDE);
        break;
    case platform::PROGRAM_EXITED:
        break;
    }
}

bool testPortLocking(const char* portName, const char* portSettings)
{
    printf("testPortLocking\n");
    const char* const probeArgv[] = { PROBE_PROGRAM, portName, portSettings, nullptr };
    int status = platform::startAndWait(PROBE_PROGRAM, probeArgv);
    noteExitStatus("holdprobe", status);
    if (status == 0) return true;
    bool passed = failure({ __LINE__, "probe" }, WANT_PROBE_PASSED, "holdprobe did not return EXIT_SUCESS\n");
    printProbeHint(status);
    return passed;
}
