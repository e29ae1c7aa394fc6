#include <stdio.h>

#include "cases/cases.h"
#include "cases/status_steps.h"
#include "runner/harness.h"

// A line feed, then lines of 39 'X'; the last line is cut short by the
// closing line feed.
static const uint32_t ASCII_JOB_SIZE = 10000;
static const uint32_t ASCII_LINE_LENGTH = 40;

// At the NOW step an error and a record showing the open cover are both right.
static const Wanted WANT_COVER_OPENED = { "offline, coverOpen", "VX_FALSE, or offline 1 and coverOpen 1" };

bool testBeginCheckedBlock(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testBeginCheckedBlock\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!queryOnline(port, BEGIN_BLOCK, area, { __LINE__, "online" })) return false;

    operatorPrompt("Make the printer offline (cover open + no paper), then hit enter");
    if (!queryCoverAndPaperOut(port, BEGIN_BLOCK, area, { __LINE__, "cover-paper-out" })) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, { __LINE__, "esc-k" })) return false;
    if (!queryOnline(port, BEGIN_BLOCK, area, { __LINE__, "online-again" })) return false;

    // Only Begin's report is under test; the blocks are never ended.
    ClosePort(port);
    return true;
}

bool testBeginCheckedBlockDisconnect(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testBeginCheckedBlockDisconnect\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!queryOnline(port, BEGIN_BLOCK, area, { __LINE__, "online" })) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    if (!queryFails(port, BEGIN_BLOCK, area, { __LINE__, "unplugged" })) return false;

    operatorPrompt("Connect the printer and make it offline (cover open + no paper), then hit enter");
    if (!queryCoverAndPaperOut(port, BEGIN_BLOCK, area, { __LINE__, "replugged-cover-paper-out" })) return false;

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
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!queryOnline(port, BEGIN_BLOCK, area, { __LINE__, "begin" })) return false;
    if (!checkWriteOutcome(port, { __LINE__, "job" }, timedChunkedWrite(port, job, jobSize))) return false;
    if (!queryOnline(port, END_BLOCK, area, { __LINE__, "end" })) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (!queryOnline(port, BEGIN_BLOCK, area, { __LINE__, "begin-again" })) return false;
    if (!checkWriteOutcome(port, { __LINE__, "job-again" }, timedChunkedWrite(port, job, jobSize))) return false;

    // No wait for Enter: the cover must open while the library is ending the
    // block, so an error and a record showing the open cover are both right.
    announce("Make the printer offline (cover open), NOW\n");
    VX_BOOL result = VX_FALSE;
    Check now = { __LINE__, "end-cover-opened" };
    if (!askStatus(port, END_BLOCK, area, now, &result)) return false;
    if (result != VX_FALSE && !offlineWithCoverOpen(lentPart(area)))
        return closeAndFail(port, now, WANT_COVER_OPENED, "offlineStatus != VX_TRUE\n");

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
