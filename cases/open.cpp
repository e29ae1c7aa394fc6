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
// A library may release a session's handles a moment after ClosePort (a
// writer thread closing its trace file): over the slack, the count is read
// again every so often for this long before it is judged.
static const uint32_t HANDLE_SETTLE_MS = 1000;
static const uint32_t HANDLE_RECOUNT_MS = 50;
// The suffix's 24 characters and the terminator.
static const size_t BAD_NAME_EXTRA = 25;

static const Wanted WANT_NO_HANDLE = { "", "NULL" };
static const Wanted WANT_NOT_HELD = { "last error", "any code but 183" };
static const Wanted WANT_NO_GROWTH = { "handles after the first pair, handles before the last 100 pairs, handles "
                                       "after the last 100 pairs",
    "at most 8 more after the last 100 pairs than before them" };
static const Wanted WANT_MEMORY = { "", "memory for the bad port name" };
static_assert(HANDLE_SLACK == 8 && OPEN_REPEATS == 100, "the wanted text names the slack and the pairs");

// `repeats` open/close pairs; false after the failure line of a refused open.
static bool openAndClose(const char* portName, const char* portSettings, unsigned repeats, unsigned line)
{
    for (unsigned i = 0; i < repeats; ++i) {
        PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
        if (port == nullptr) return failure({ line, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
        noteCall("ClosePort", ClosePort(port));
    }
    return true;
}

uint32_t settledHandles(uint32_t bound)
{
    uint32_t count = 0;
    for (uint32_t waited = 0;; waited += HANDLE_RECOUNT_MS) {
        if (!platform::countHandles(&count) || count <= bound || waited >= HANDLE_SETTLE_MS) return count;
        platform::Sleep(HANDLE_RECOUNT_MS);
    }
}

// Only what grows with the number of sessions is a leak: over the slack, the
// count must settle back, or at least stop growing over 100 more pairs.
static bool handlesDoNotGrow(const char* portName, const char* portSettings, uint32_t first, unsigned line)
{
    uint32_t before = settledHandles(first + HANDLE_SLACK);
    if (before <= first + HANDLE_SLACK) return true;
    if (!openAndClose(portName, portSettings, OPEN_REPEATS, line)) return false;
    uint32_t after = settledHandles(before + HANDLE_SLACK);
    if (after <= before + HANDLE_SLACK) return true;
    noteValue("handles after the first pair", first);
    noteValue("handles before the last 100 pairs", before);
    noteValue("handles after the last 100 pairs", after);
    uint32_t grown = after - before;
    char perSession[24];
    snprintf(perSession, sizeof perSession, "%u.%02u", grown / OPEN_REPEATS, grown % OPEN_REPEATS);
    return failure({ line, "handles" }, WANT_NO_GROWTH,
        "%u more handles held after %u OpenPortA/ClosePort pairs than after the first, %s kept by each session\n",
        after - first, 2 * OPEN_REPEATS, perSession);
}

bool testOpenPort(const char* portName, const char* portSettings)
{
    printf("testOpenPort\n");
    // The first pair may leave what a library sets up once for good.
    if (!openAndClose(portName, portSettings, 1, __LINE__)) return false;
    uint32_t first = 0;
    bool counted = platform::countHandles(&first);
    if (!openAndClose(portName, portSettings, OPEN_REPEATS - 1, __LINE__)) return false;
    uint32_t now = 0;
    if (!counted || !platform::countHandles(&now) || now <= first + HANDLE_SLACK) return true;
    return handlesDoNotGrow(portName, portSettings, first, __LINE__);
}

bool testBadPortName(const char* portName, const char* portSettings)
{
    printf("testBadPortName\n");
    size_t size = strlen(portName) + BAD_NAME_EXTRA;
    char* badName = static_cast<char*>(malloc(size));
    if (badName == nullptr)
        return failure({ __LINE__, "allocate" }, WANT_MEMORY, "cannot allocate the bad port name\n");
    snprintf(badName, size, "%saReallyHorriblyBadSuffix", portName);
    platform::clearLastError();
    PortHandle port = openPort(badName, portSettings, OPEN_TIME_LIMIT);
    uint32_t reason = platform::GetLastError();
    free(badName);
    if (port != nullptr)
        return closeAndFail(port, { __LINE__, "refused" }, WANT_NO_HANDLE,
            "OpenPortA did not return NULL when given a bad port name\n");
    // The held code for a port that cannot exist would make Test Port
    // Locking's proof hollow: any refusal would look like a hold.
    if (reason == platform::LAST_ERROR_ALREADY_EXISTS)
        return failure({ __LINE__, "not-held" }, WANT_NOT_HELD,
            "OpenPortA reported the port held (183) when given a bad port name\n");
    return true;
}
