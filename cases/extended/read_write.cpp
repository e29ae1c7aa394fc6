#include <stdio.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

// A printer prints a line within a second of taking it.
static const uint32_t LINE_OUT_MS = 3000;
static const uint32_t REPLY_WAIT_MS = 500;

bool testReadPieces(const char* portName, const char* portSettings)
{
    printf("testReadPieces\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    // One byte a call: a library that ends what it read with a NUL writes
    // past the buffer, into its guard.
    for (uint32_t size = 1; size <= 3; ++size) {
        if (!sendFirmwareQuery(port, __LINE__)) return false;
        platform::Sleep(REPLY_WAIT_MS);
        if (!expectFirmwareReply(port, size, __LINE__)) return false;
    }
    if (!sendFirmwareQuery(port, __LINE__)) return false;
    platform::Sleep(REPLY_WAIT_MS);
    if (!expectFirmwareReply(port, 100, __LINE__)) return false;
    ClosePort(port);
    return true;
}

bool testWriteOnce(const char* portName, const char* portSettings)
{
    printf("testWriteOnce\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    // More than 64 KiB offered in one call, whatever the link takes of it.
    if (!checkWriteOutcome(port, __LINE__, timedChunkedWrite(port, rasterJob, RASTER_JOB_SIZE))) return false;
    if (operatorSays(EXT_ASK_RASTER_WHOLE) == SAID_NO)
        return closeAndFail(
            port, __LINE__, "the raster job WritePort reported written did not come out whole and once\n");
    // Reported written is on its way: it must not wait in the library.
    if (!writeLine(port, EXT_LINE_ONCE, __LINE__)) return false;
    platform::Sleep(LINE_OUT_MS);
    if (operatorSays(EXT_ASK_ONCE_LINE) == SAID_NO)
        return closeAndFail(port, __LINE__, "the line WritePort reported written had not come out 3 s later\n");
    ClosePort(port);
    return true;
}

bool testWriteOffline(const char* portName, const char* portSettings)
{
    printf("testWriteOffline\n");
    operatorPrompt("Make the printer online, then make it offline, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    static const char LINE[] = EXT_LINE_OFFLINE "\n";
    uint32_t written = 0;
    WriteOutcome outcome = lentWrite(port, LINE, sizeof LINE - 1, &written);
    if (outcome != WRITE_ALL_WRITTEN && outcome != WRITE_RETURNED_FALSE)
        return checkWriteOutcome(port, __LINE__, outcome);
    bool claimed = outcome == WRITE_ALL_WRITTEN && written == sizeof LINE - 1;
    // A printer may keep what it took while offline and print it once
    // online: what the library reported taken must come out then.
    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, __LINE__)) return false;
    platform::Sleep(LINE_OUT_MS);
    YesNo out = operatorSays(EXT_ASK_OFFLINE_LINE);
    if (claimed && out == SAID_NO)
        return closeAndFail(
            port, __LINE__, "WritePort reported the line written while offline, and it never came out\n");
    if (!claimed && out == SAID_YES) note("the line refused while offline came out once the printer was online\n");
    ClosePort(port);
    return true;
}
