#include <stdio.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

// A printer prints a line within a second of taking it.
static const uint32_t LINE_OUT_MS = 3000;
static const uint32_t REPLY_WAIT_MS = 500;

static const Wanted WANT_RASTER_WHOLE = { "", "the technician's yes: one raster image, whole, once" };
static const Wanted WANT_LINE_OUT = { "", "the technician's yes: the line was out 3 s after the write" };
static const Wanted WANT_CLAIMED_OUT = { "count", "the line out once online, as the count claimed it taken" };

bool testReadPieces(const char* portName, const char* portSettings)
{
    printf("testReadPieces\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    // One byte a call: a library that ends what it read with a NUL writes
    // past the buffer, into its guard.
    for (uint32_t size = 1; size <= 3; ++size) {
        if (!sendFirmwareQuery(port, { __LINE__, "query-small" })) return false;
        platform::Sleep(REPLY_WAIT_MS);
        if (!expectFirmwareReply(port, size, { __LINE__, "reply-small" })) return false;
    }
    if (!sendFirmwareQuery(port, { __LINE__, "query" })) return false;
    platform::Sleep(REPLY_WAIT_MS);
    if (!expectFirmwareReply(port, 100, { __LINE__, "reply" })) return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}

bool testWriteOnce(const char* portName, const char* portSettings)
{
    printf("testWriteOnce\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    // More than 64 KiB offered in one call, whatever the link takes of it.
    if (!checkWriteOutcome(port, { __LINE__, "raster" }, timedChunkedWrite(port, rasterJob, RASTER_JOB_SIZE)))
        return false;
    if (operatorSays(EXT_ASK_RASTER_WHOLE) == SAID_NO)
        return closeAndFail(port, { __LINE__, "raster-out" }, WANT_RASTER_WHOLE,
            "the raster job WritePort reported written did not come out whole and once\n");
    // Reported written is on its way: it must not wait in the library.
    if (!writeLine(port, EXT_LINE_ONCE, { __LINE__, "line" })) return false;
    platform::Sleep(LINE_OUT_MS);
    if (operatorSays(EXT_ASK_ONCE_LINE) == SAID_NO)
        return closeAndFail(port, { __LINE__, "line-out" }, WANT_LINE_OUT,
            "the line WritePort reported written had not come out 3 s later\n");
    noteCall("ClosePort", ClosePort(port));
    return true;
}

bool testWriteOffline(const char* portName, const char* portSettings)
{
    printf("testWriteOffline\n");
    operatorPrompt("Make the printer online, then make it offline, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    static const char LINE[] = EXT_LINE_OFFLINE "\n";
    uint32_t written = 0;
    WriteOutcome outcome = lentWrite(port, LINE, sizeof LINE - 1, &written);
    if (outcome != WRITE_ALL_WRITTEN && outcome != WRITE_RETURNED_FALSE)
        return checkWriteOutcome(port, { __LINE__, "offline-write" }, outcome);
    bool claimed = outcome == WRITE_ALL_WRITTEN && written == sizeof LINE - 1;
    // A printer may keep what it took while offline and print it once
    // online: what the library reported taken must come out then.
    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, { __LINE__, "esc-k" })) return false;
    platform::Sleep(LINE_OUT_MS);
    YesNo out = operatorSays(EXT_ASK_OFFLINE_LINE);
    if (claimed && out == SAID_NO)
        return closeAndFail(port, { __LINE__, "claimed-out" }, WANT_CLAIMED_OUT,
            "WritePort reported the line written while offline, and it never came out\n");
    if (!claimed && out == SAID_YES) note("the line refused while offline came out once the printer was online\n");
    noteCall("ClosePort", ClosePort(port));
    return true;
}
