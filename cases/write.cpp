#include <stdio.h>

#include "cases/cases.h"
#include "runner/harness.h"

// A parallel port must take the whole raster job even when opened with a
// short limit.
static const uint32_t RASTER_OPEN_TIME_LIMIT = 2000;
static const unsigned OFFLINE_WRITE_ATTEMPTS = 3;

// An unplugged printer takes nothing: a failure, or a count of 0.
static const Wanted WANT_NOTHING_TAKEN = { "count", "VX_FALSE, or a count of 0" };
static const Wanted WANT_OFFLINE_FAILURE
    = { "count, offered", "VX_FALSE or a count of 0 within 3 writes to an offline printer" };
static_assert(OFFLINE_WRITE_ATTEMPTS == 3, "the wanted text names the attempts");

// Opens the port and sends the whole job; returns the still open port, or
// null after the failure line has been printed (and the port closed).
static PortHandle openAndSendJob(
    const char* portName, const char* portSettings, uint32_t timeLimit, const unsigned char* job, uint32_t size)
{
    PortHandle port = openPort(portName, portSettings, timeLimit);
    if (port == nullptr) {
        failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
        return nullptr;
    }
    if (!checkWriteOutcome(port, { __LINE__, "job" }, timedChunkedWrite(port, job, size))) return nullptr;
    return port;
}

// One WritePort of the whole bulk payload, without retry or timer. A count of
// 0 reads as a time-out and any other count in range as progress, so the
// outcome names match the timed write's failure lines.
static WriteOutcome writeBulkOnce(PortHandle port)
{
    uint32_t written = 0;
    WriteOutcome call = lentWrite(port, bulkPayload, BULK_PAYLOAD_SIZE, &written);
    if (call != WRITE_ALL_WRITTEN) return call;
    if (written > BULK_PAYLOAD_SIZE) return WRITE_COUNT_TOO_LARGE;
    if (written == 0) return WRITE_STALLED;
    return WRITE_ALL_WRITTEN;
}

static bool wroteOutsideCount(WriteOutcome outcome)
{
    return outcome == WRITE_BEFORE_COUNT || outcome == WRITE_PAST_COUNT;
}

bool testWrite(const char* portName, const char* portSettings)
{
    printf("testWrite\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openAndSendJob(portName, portSettings, OPEN_TIME_LIMIT, bulkPayload, BULK_PAYLOAD_SIZE);
    if (port == nullptr) return false;
    ClosePort(port);
    return true;
}

bool testTooMuchDataForParallelPort(const char* portName, const char* portSettings)
{
    printf("testTooMuchDataForParallelPort\n");
    operatorPrompt("Turn the printer off, then press enter");
    operatorPrompt("Make the printer online, then press enter");
    PortHandle port = openAndSendJob(portName, portSettings, RASTER_OPEN_TIME_LIMIT, rasterJob, RASTER_JOB_SIZE);
    if (port == nullptr) return false;
    // A port that choked on the job shows it when it is released.
    if (noteCall("ClosePort", ClosePort(port)) == VX_FALSE)
        return failure({ __LINE__, "close" }, WANT_SUCCESS, "ClosePort returned VX_FALSE\n");
    return true;
}

bool testWriteOfflineTimeout(const char* portName, const char* portSettings)
{
    printf("testWriteOfflineTimeout\n");
    operatorPrompt("Make the printer online, then make it offline, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");

    for (unsigned attempt = 0; attempt < OFFLINE_WRITE_ATTEMPTS; ++attempt) {
        WriteOutcome outcome = writeBulkOnce(port);
        if (outcome == WRITE_COUNT_TOO_LARGE || wroteOutsideCount(outcome))
            return checkWriteOutcome(port, { __LINE__, "offline-write" }, outcome);
        if (outcome != WRITE_ALL_WRITTEN) {
            ClosePort(port);
            return true;
        }
    }
    return closeAndFail(port, { __LINE__, "offline-failure" }, WANT_OFFLINE_FAILURE,
        "all data written out without the expected failure\n");
}

bool testWriteDisconnect(const char* portName, const char* portSettings)
{
    printf("testWriteDisconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");

    if (!checkWriteOutcome(port, { __LINE__, "online" }, writeBulkOnce(port))) return false;

    // Any count but 0 claims bytes an unplugged printer took, a count left
    // unset among them; it is not used, so a large one is no danger here.
    operatorPrompt("Disconnect the printer and hit enter");
    WriteOutcome outcome = writeBulkOnce(port);
    Check unplugged = { __LINE__, "unplugged" };
    if (wroteOutsideCount(outcome)) return checkWriteOutcome(port, unplugged, outcome);
    if (outcome == WRITE_ALL_WRITTEN || outcome == WRITE_COUNT_TOO_LARGE)
        return closeAndFail(port, unplugged, WANT_NOTHING_TAKEN, "WritePort did not fail as expected\n");

    operatorPrompt("Connect the printer and hit enter");
    if (!checkWriteOutcome(port, { __LINE__, "replugged" }, writeBulkOnce(port))) return false;
    ClosePort(port);
    return true;
}
