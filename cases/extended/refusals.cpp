#include <stdio.h>

#include "cases/cases.h"
#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/harness.h"

// Enough refusals that a handle kept by each shows well above what a library
// may open once and keep (a log, a thread, a helper's handles).
static const unsigned REFUSALS = 40;
static const uint32_t HANDLE_SLACK = 8;
// Failed calls counted twice over: past the slack, the count must stop
// growing. A library that rides out a loose cable spends seconds on each
// failed call; its handles are not counted (too slow for a procedure).
static const unsigned FAILED_CALLS = 20;
static const uint32_t QUICK_FAILURE_MS = 1000;
static const char BAD_SUFFIX[] = "aReallyHorriblyBadSuffix";

static const Wanted WANT_HANDLES_BACK = { "", "at most 8 more handles held after the opens" };
static const Wanted WANT_NO_GROWTH = { "", "at most 8 more handles after the last 20 failed calls than before them" };
static const Wanted WANT_NOT_HELD = { "last error", "not 183: the port is not held" };

// Opens `name` REFUSALS times; any open let in is closed again. True when the
// process holds no more than the slack more handles after them.
static bool refusalsReturnHandles(const char* name, const char* portSettings, unsigned* letIn, uint32_t* more)
{
    uint32_t before = 0;
    uint32_t after = 0;
    bool counted = platform::countHandles(&before);
    *letIn = 0;
    for (unsigned i = 0; i < REFUSALS; ++i) {
        PortHandle port = openPort(name, portSettings, OPEN_TIME_LIMIT);
        if (port == nullptr) continue;
        ++*letIn;
        noteCall("ClosePort", ClosePort(port));
    }
    if (!counted || !platform::countHandles(&after)) return true;
    *more = after > before ? after - before : 0;
    return *more <= HANDLE_SLACK;
}

bool testRefusalHandles(const char* portName, const char* portSettings)
{
    printf("testRefusalHandles\n");
    operatorPrompt("Make the printer online, then hit enter");
    char badName[ANSWER_SIZE + sizeof BAD_SUFFIX];
    snprintf(badName, sizeof badName, "%s%s", portName, BAD_SUFFIX);
    unsigned letIn = 0;
    uint32_t more = 0;
    if (!refusalsReturnHandles(badName, portSettings, &letIn, &more))
        return failure({ __LINE__, "bad-name-handles" }, WANT_HANDLES_BACK,
            "%u more handles held after %u refused opens of a bad name\n", more, REFUSALS);

    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    bool returned = refusalsReturnHandles(portName, portSettings, &letIn, &more);
    if (letIn > 0) note("%u of %u second opens of the held port in the same process were let in\n", letIn, REFUSALS);
    if (!returned)
        return closeAndFail(port, { __LINE__, "held-handles" }, WANT_HANDLES_BACK,
            "%u more handles held after %u opens of the held port\n", more, REFUSALS);
    noteCall("ClosePort", ClosePort(port));
    return true;
}

// A printer that cannot be reached is not a port held elsewhere: a refusal
// with the held code would make Test Port Locking's proof hollow. An open
// that succeeds (a serial port opens with nothing on it) is the library's
// choice.
static bool unreachableNotHeld(const char* portName, const char* portSettings, const char* state, Check check)
{
    platform::clearLastError();
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    uint32_t reason = platform::GetLastError();
    if (port != nullptr) {
        note("OpenPortA opened the port of a printer that is %s\n", state);
        noteCall("ClosePort", ClosePort(port));
        return true;
    }
    if (reason == platform::LAST_ERROR_ALREADY_EXISTS)
        return failure(
            check, WANT_NOT_HELD, "OpenPortA reported the port held (183) for a printer that is %s\n", state);
    return true;
}

bool testRefusalUnreachable(const char* portName, const char* portSettings)
{
    printf("testRefusalUnreachable\n");
    operatorPrompt("Disconnect the printer and hit enter");
    if (!unreachableNotHeld(portName, portSettings, "unplugged", { __LINE__, "unplugged" })) return false;
    unsigned letIn = 0;
    uint32_t more = 0;
    if (!refusalsReturnHandles(portName, portSettings, &letIn, &more))
        return failure({ __LINE__, "unplugged-handles" }, WANT_HANDLES_BACK,
            "%u more handles held after %u opens of an unplugged printer\n", more, REFUSALS);
    operatorPrompt("Connect the printer and hit enter");
    operatorPrompt("Turn the printer off, then press enter");
    if (!unreachableNotHeld(portName, portSettings, "switched off", { __LINE__, "switched-off" })) return false;
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    noteCall("ClosePort", ClosePort(port));
    return true;
}

static bool askStatusTimes(PortHandle port, unsigned times, Check check)
{
    for (unsigned i = 0; i < times; ++i) {
        RecordArea area;
        VX_BOOL result = VX_FALSE;
        if (!askStatus(port, LEVEL1_STATUS, area, check, &result)) return false;
    }
    return true;
}

bool failedCallsReturnHandles(PortHandle port, Check check)
{
    uint32_t start = platform::GetTickCount();
    if (!askStatusTimes(port, 1, check)) return false;
    if (platform::GetTickCount() - start > QUICK_FAILURE_MS) {
        note("GetParsedStatusEx took over 1 s while unplugged; handles are not counted around failed calls\n");
        return true;
    }
    uint32_t first = 0;
    if (!platform::countHandles(&first)) return true;
    if (!askStatusTimes(port, FAILED_CALLS, check)) return false;
    uint32_t before = settledHandles(first + HANDLE_SLACK);
    if (before <= first + HANDLE_SLACK) return true;
    if (!askStatusTimes(port, FAILED_CALLS, check)) return false;
    uint32_t after = settledHandles(before + HANDLE_SLACK);
    if (after <= before + HANDLE_SLACK) return true;
    return closeAndFail(port, check, WANT_NO_GROWTH, "%u more handles held after %u calls while unplugged\n",
        after - first, 2 * FAILED_CALLS);
}
