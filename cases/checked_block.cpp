#include <stdio.h>

#include "cases/cases.h"
#include "cases/parsed_status.h"
#include "runner/harness.h"

// A line feed, then lines of 39 'X'; the last line is cut short by the
// closing line feed.
static const uint32_t ASCII_JOB_SIZE = 10000;
static const uint32_t ASCII_LINE_LENGTH = 40;

// Begin, then its guard: false, with the port closed and the caller's line
// printed, when the library wrote past the record.
static bool beginBlock(PortHandle port, unsigned char* record, unsigned line, VX_BOOL* result)
{
    *result = BeginCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
    return checkRecordGuard(port, line, "BeginCheckedBlockEx", record, VX_STATUS_LEVEL1_SIZE);
}

static bool endBlock(PortHandle port, unsigned char* record, unsigned line, VX_BOOL* result)
{
    *result = EndCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
    return checkRecordGuard(port, line, "EndCheckedBlockEx", record, VX_STATUS_LEVEL1_SIZE);
}

static bool beginOnline(PortHandle port, unsigned char* record, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    if (!beginBlock(port, record, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "BeginCheckedBlock returned VX_FALSE\n");
    if (reportsOffline(record)) return closeAndFail(port, line, "offlineStatus != VX_FALSE\n");
    return true;
}

static bool beginCoverAndPaperOut(PortHandle port, unsigned char* record, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    if (!beginBlock(port, record, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "BeginCheckedBlock returned VX_FALSE\n");
    if (!coverAndPaperOut(record, VX_OFFSET_PAPER_EMPTY_LEVEL1))
        return closeAndFail(port, line, "status.offline != VX_TRUE\n");
    return true;
}

bool testBeginCheckedBlock(const char* portName, const char* portSettings)
{
    unsigned char record[VX_STATUS_LEVEL1_SIZE + RECORD_GUARD_SIZE];
    prepareRecord(record, VX_STATUS_LEVEL1_SIZE);
    printf("testBeginCheckedBlock\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!beginOnline(port, record, __LINE__)) return false;

    operatorPrompt("Make the printer offline (cover open + no paper), then hit enter");
    if (!beginCoverAndPaperOut(port, record, __LINE__)) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (writeEscK(port) == VX_FALSE) return closeAndFail(port, __LINE__, "WritePort returned VX_FALSE\n");
    if (!beginOnline(port, record, __LINE__)) return false;

    // Only Begin's report is under test; the blocks are never ended.
    ClosePort(port);
    return true;
}

bool testBeginCheckedBlockDisconnect(const char* portName, const char* portSettings)
{
    unsigned char record[VX_STATUS_LEVEL1_SIZE + RECORD_GUARD_SIZE];
    prepareRecord(record, VX_STATUS_LEVEL1_SIZE);
    printf("testBeginCheckedBlockDisconnect\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!beginOnline(port, record, __LINE__)) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    VX_BOOL result = VX_FALSE;
    if (!beginBlock(port, record, __LINE__, &result)) return false;
    if (result != VX_FALSE) return closeAndFail(port, __LINE__, "GetParsedStatus did not fail as expected\n");

    operatorPrompt("Connect the printer and make it offline (cover open + no paper), then hit enter");
    if (!beginCoverAndPaperOut(port, record, __LINE__)) return false;

    ClosePort(port);
    return true;
}

// testEndCheckedBlockRaster and testEndCheckedBlockAscii: the same steps
// around different jobs.
static bool endCheckedBlockTest(
    const char* portName, const char* portSettings, const unsigned char* job, uint32_t jobSize)
{
    unsigned char record[VX_STATUS_LEVEL1_SIZE + RECORD_GUARD_SIZE];
    prepareRecord(record, VX_STATUS_LEVEL1_SIZE);
    printf("testEndCheckedBlock\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!beginOnline(port, record, __LINE__)) return false;
    if (!checkWriteOutcome(port, __LINE__, timedChunkedWrite(port, job, jobSize))) return false;
    VX_BOOL result = VX_FALSE;
    if (!endBlock(port, record, __LINE__, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, __LINE__, "EndCheckedBlock returned VX_FALSE\n");
    if (reportsOffline(record)) return closeAndFail(port, __LINE__, "offlineStatus != VX_FALSE\n");

    operatorPrompt("Make the printer online, then hit enter");
    if (!beginOnline(port, record, __LINE__)) return false;
    if (!checkWriteOutcome(port, __LINE__, timedChunkedWrite(port, job, jobSize))) return false;

    // No wait for Enter: the cover must open while the library is ending the
    // block, so an error and a record showing the open cover are both right.
    printf("Make the printer offline (cover open), NOW\n");
    if (!endBlock(port, record, __LINE__, &result)) return false;
    if (result != VX_FALSE && !offlineWithCoverOpen(record))
        return closeAndFail(port, __LINE__, "offlineStatus != VX_TRUE\n");

    ClosePort(port);
    return true;
}

bool testEndCheckedBlockRaster(const char* portName, const char* portSettings)
{
    return endCheckedBlockTest(portName, portSettings, rasterJob, RASTER_JOB_SIZE);
}

bool testEndCheckedBlockAscii(const char* portName, const char* portSettings)
{
    unsigned char job[ASCII_JOB_SIZE];
    for (uint32_t i = 0; i < ASCII_JOB_SIZE; ++i) job[i] = i % ASCII_LINE_LENGTH == 0 ? 0x0A : 'X';
    job[ASCII_JOB_SIZE - 1] = 0x0A;
    return endCheckedBlockTest(portName, portSettings, job, ASCII_JOB_SIZE);
}
