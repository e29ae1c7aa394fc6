#include <stdio.h>

#include "cases/cases.h"
#include "cases/status_checks.h"
#include "runner/harness.h"

// A line feed, then lines of 39 'X'; the last line is cut short by the
// closing line feed.
static const uint32_t ASCII_JOB_SIZE = 10000;
static const uint32_t ASCII_LINE_LENGTH = 40;

// Begin or End into a freshly lent record, then its guards: false, with the
// port closed and the caller's line printed, when the library wrote outside it.
static bool blockCall(PortHandle port, bool begin, unsigned char* area, unsigned line, VX_BOOL* result)
{
    unsigned char* record = lend(area, VX_STATUS_LEVEL1_SIZE);
    *result = begin ? BeginCheckedBlockEx(port, record, VX_STATUS_LEVEL_1)
                    : EndCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
    return checkLent(
        port, line, begin ? "BeginCheckedBlockEx" : "EndCheckedBlockEx", area, VX_STATUS_LEVEL1_SIZE, "record");
}

static bool beginBlock(PortHandle port, unsigned char* area, unsigned line, VX_BOOL* result)
{
    return blockCall(port, true, area, line, result);
}

static bool endBlock(PortHandle port, unsigned char* area, unsigned line, VX_BOOL* result)
{
    return blockCall(port, false, area, line, result);
}

// After the step's own checks of a record where the printer was made online.
static bool coverShutPaperIn(PortHandle port, const unsigned char* area, unsigned line)
{
    return expectCoverShutPaperIn(port, lentPart(area), VX_OFFSET_PAPER_EMPTY_LEVEL1, line);
}

static bool beginOnline(PortHandle port, unsigned char* area, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    if (!beginBlock(port, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "BeginCheckedBlock returned VX_FALSE\n");
    if (reportsOffline(lentPart(area))) return closeAndFail(port, line, "offlineStatus != VX_FALSE\n");
    return coverShutPaperIn(port, area, line);
}

static bool beginCoverAndPaperOut(PortHandle port, unsigned char* area, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    if (!beginBlock(port, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "BeginCheckedBlock returned VX_FALSE\n");
    if (!coverAndPaperOut(lentPart(area), VX_OFFSET_PAPER_EMPTY_LEVEL1))
        return closeAndFail(port, line, "status.offline != VX_TRUE\n");
    return true;
}

bool testBeginCheckedBlock(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testBeginCheckedBlock\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!beginOnline(port, area, __LINE__)) return false;

    operatorPrompt("Make the printer offline (cover open + no paper), then hit enter");
    if (!beginCoverAndPaperOut(port, area, __LINE__)) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, __LINE__)) return false;
    if (!beginOnline(port, area, __LINE__)) return false;

    // Only Begin's report is under test; the blocks are never ended.
    ClosePort(port);
    return true;
}

bool testBeginCheckedBlockDisconnect(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testBeginCheckedBlockDisconnect\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!beginOnline(port, area, __LINE__)) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    VX_BOOL result = VX_FALSE;
    if (!beginBlock(port, area, __LINE__, &result)) return false;
    if (result != VX_FALSE) return closeAndFail(port, __LINE__, "GetParsedStatus did not fail as expected\n");

    operatorPrompt("Connect the printer and make it offline (cover open + no paper), then hit enter");
    if (!beginCoverAndPaperOut(port, area, __LINE__)) return false;

    ClosePort(port);
    return true;
}

// testEndCheckedBlockRaster and testEndCheckedBlockAscii: the same steps
// around different jobs.
static bool endCheckedBlockTest(
    const char* portName, const char* portSettings, const unsigned char* job, uint32_t jobSize)
{
    RecordArea area;
    printf("testEndCheckedBlock\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!beginOnline(port, area, __LINE__)) return false;
    if (!checkWriteOutcome(port, __LINE__, timedChunkedWrite(port, job, jobSize))) return false;
    VX_BOOL result = VX_FALSE;
    if (!endBlock(port, area, __LINE__, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, __LINE__, "EndCheckedBlock returned VX_FALSE\n");
    if (reportsOffline(lentPart(area))) return closeAndFail(port, __LINE__, "offlineStatus != VX_FALSE\n");
    if (!coverShutPaperIn(port, area, __LINE__)) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (!beginOnline(port, area, __LINE__)) return false;
    if (!checkWriteOutcome(port, __LINE__, timedChunkedWrite(port, job, jobSize))) return false;

    // No wait for Enter: the cover must open while the library is ending the
    // block, so an error and a record showing the open cover are both right.
    printf("Make the printer offline (cover open), NOW\n");
    if (!endBlock(port, area, __LINE__, &result)) return false;
    if (result != VX_FALSE && !offlineWithCoverOpen(lentPart(area)))
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
