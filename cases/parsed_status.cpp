#include <stdio.h>

#include "cases/cases.h"
#include "cases/status_checks.h"
#include "platform/platform.h"
#include "runner/harness.h"

// The first status call of a session may take at most this long.
static const uint32_t FIRST_QUERY_LIMIT_MS = 200;
// Time the printer gets to validate the slip before its status is read.
static const uint32_t VALIDATION_WAIT_MS = 5000;

static const unsigned char ESC_K_COMMAND[] = { 0x1B, 0x4B, 0x01, 0x00 };
// ESC + A 3, then six line feeds.
static const unsigned char VALIDATION_COMMAND[] = { 0x1B, 0x2B, 0x41, 0x33, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A };

// A put-in step wants its flag exactly 1 and a take-out step exactly 0: a
// flag of 2 or -1 fails both.
static const VX_BOOL PUT_IN = VX_TRUE;
static const VX_BOOL TAKEN_OUT = VX_FALSE;

// Each flag must be exactly 1; any other non-zero value is a library fault.
bool offlineWithCoverOpen(const unsigned char* record)
{
    return statusWord(record, VX_OFFSET_OFFLINE) == 1 && statusWord(record, VX_OFFSET_COVER_OPEN) == 1;
}

bool coverAndPaperOut(const unsigned char* record, uint32_t paperEmptyOffset)
{
    return offlineWithCoverOpen(record) && statusWord(record, paperEmptyOffset) == 1;
}

bool expectCoverShutPaperIn(PortHandle port, const unsigned char* record, uint32_t paperEmptyOffset, unsigned line)
{
    if (statusWord(record, VX_OFFSET_COVER_OPEN) != 0)
        return closeAndFail(port, line, "status.coverOpen != VX_FALSE\n");
    if (statusWord(record, paperEmptyOffset) != 0) return closeAndFail(port, line, "status.paperEmpty != VX_FALSE\n");
    return true;
}

bool writeEscK(PortHandle port, unsigned line)
{
    // The status call that follows is the check, so the count is not examined.
    uint32_t written = 0;
    return checkWriteOutcome(port, line, lentWrite(port, ESC_K_COMMAND, sizeof ESC_K_COMMAND, &written));
}

static VX_BOOL queryLevel1(PortHandle port, unsigned char* record)
{
    return GetParsedStatusEx(port, record, VX_STATUS_LEVEL_1);
}

static VX_BOOL queryOld(PortHandle port, unsigned char* record) { return GetParsedStatus(port, record); }

// A library call that reports the printer status into the record it is
// given, named as the guard's failure line names it, and where its record
// keeps paperEmpty.
struct StatusQuery {
    VX_BOOL (*call)(PortHandle port, unsigned char* record);
    const char* name;
    uint32_t recordSize;
    uint32_t paperEmptyOffset;
};

static const StatusQuery LEVEL1_QUERY
    = { queryLevel1, "GetParsedStatusEx", VX_STATUS_LEVEL1_SIZE, VX_OFFSET_PAPER_EMPTY_LEVEL1 };
static const StatusQuery OLD_QUERY = { queryOld, "GetParsedStatus", VX_STATUS_OLD_SIZE, VX_OFFSET_PAPER_EMPTY_OLD };

// The call into a freshly lent record, then its guards: false, with the port
// closed and the caller's line printed, when the library wrote outside it.
static bool ask(PortHandle port, const StatusQuery& query, unsigned char* area, unsigned line, VX_BOOL* result)
{
    *result = query.call(port, lend(area, query.recordSize));
    return checkLent(port, line, query.name, area, query.recordSize, "record");
}

// The first call of a session: offline is reported before time, and the
// clock covers the call and its offline check.
static bool firstQueryInTime(
    PortHandle port, const StatusQuery& query, unsigned char* area, unsigned line, const char* offlineText)
{
    uint32_t start = platform::GetTickCount();
    VX_BOOL result = VX_FALSE;
    if (!ask(port, query, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "GetParsedStatus returned VX_FALSE\n");
    if (reportsOffline(lentPart(area))) return closeAndFail(port, line, "%s", offlineText);
    // Unsigned difference, so a wrapping tick counter does not matter.
    uint32_t elapsed = platform::GetTickCount() - start;
    if (elapsed > FIRST_QUERY_LIMIT_MS)
        return closeAndFail(port, line, "GetParsedStatus took toooooooo looooooooooooong\n");
    return expectCoverShutPaperIn(port, lentPart(area), query.paperEmptyOffset, line);
}

static bool queryOnline(PortHandle port, const StatusQuery& query, unsigned char* area, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    if (!ask(port, query, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "GetParsedStatus returned VX_FALSE\n");
    if (reportsOffline(lentPart(area))) return closeAndFail(port, line, "offlineStatus != VX_FALSE\n");
    return expectCoverShutPaperIn(port, lentPart(area), query.paperEmptyOffset, line);
}

static bool queryCoverAndPaperOut(PortHandle port, const StatusQuery& query, unsigned char* area, unsigned line)
{
    VX_BOOL result = VX_FALSE;
    if (!ask(port, query, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "GetParsedStatus returned VX_FALSE\n");
    if (!coverAndPaperOut(lentPart(area), query.paperEmptyOffset))
        return closeAndFail(port, line, "status.offline != VX_TRUE\n");
    return true;
}

bool expectRecordOffline(PortHandle port, unsigned line)
{
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!ask(port, LEVEL1_QUERY, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "GetParsedStatus returned VX_FALSE\n");
    if (statusWord(lentPart(area), VX_OFFSET_OFFLINE) != 1)
        return closeAndFail(port, line, "status.offline != VX_TRUE\n");
    return true;
}

// testGetParsedStatus and testOldGetParsedStatus: the same steps on the
// level-1 and the old record, which keep paperEmpty in different places.
static bool parsedStatusTest(
    const char* portName, const char* portSettings, const char* banner, const StatusQuery& query)
{
    RecordArea area;
    printf("%s\n", banner);
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!firstQueryInTime(port, query, area, __LINE__, "offlineStatus != VX_FALSE\n")) return false;

    // The online query must see the open cover and the missing paper too.
    operatorPrompt("Make the printer offline (cover open + no paper), then hit enter");
    if (!queryCoverAndPaperOut(port, query, area, __LINE__)) return false;
    if (!expectOnlineFlag(port, VX_FALSE, __LINE__)) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, __LINE__)) return false;
    if (!queryOnline(port, query, area, __LINE__)) return false;

    ClosePort(port);
    return true;
}

bool testGetParsedStatus(const char* portName, const char* portSettings)
{
    return parsedStatusTest(portName, portSettings, "testGetParsedStatus", LEVEL1_QUERY);
}

bool testOldGetParsedStatus(const char* portName, const char* portSettings)
{
    return parsedStatusTest(portName, portSettings, "testOldGetParsedStatus", OLD_QUERY);
}

bool testGetParsedStatusDisconnect(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testGetParsedStatusDisconnect\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!queryOnline(port, LEVEL1_QUERY, area, __LINE__)) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    VX_BOOL result = VX_FALSE;
    if (!ask(port, LEVEL1_QUERY, area, __LINE__, &result)) return false;
    if (result != VX_FALSE) return closeAndFail(port, __LINE__, "GetParsedStatus did not fail as expected\n");

    operatorPrompt("Connect the printer and make it offline (cover open + no paper), then hit enter");
    if (!queryCoverAndPaperOut(port, LEVEL1_QUERY, area, __LINE__)) return false;

    ClosePort(port);
    return true;
}

// One slip step: the printer must stay online and the flag read `expected`.
static bool slipStep(
    PortHandle port, unsigned char* area, unsigned line, uint32_t flagOffset, VX_BOOL expected, const char* failureText)
{
    VX_BOOL result = VX_FALSE;
    if (!ask(port, LEVEL1_QUERY, area, line, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, line, "GetParsedStatus returned VX_FALSE\n");
    if (reportsOffline(lentPart(area)) || statusWord(lentPart(area), flagOffset) != expected)
        return closeAndFail(port, line, "%s", failureText);
    return expectCoverShutPaperIn(port, lentPart(area), VX_OFFSET_PAPER_EMPTY_LEVEL1, line);
}

bool testHybridGetParsedStatus(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testHybridGetParsedStatus\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!firstQueryInTime(port, LEVEL1_QUERY, area, __LINE__, "offlineStatus == VX_FALSE\n")) return false;

    operatorPrompt("Put paper in the BOF, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_SLIP_BOF, PUT_IN, "status.slipBOF == VX_FALSE\n")) return false;
    operatorPrompt("Take the paper out of the BOF, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_SLIP_BOF, TAKEN_OUT, "status.slipBOF == VX_TRUE\n")) return false;

    operatorPrompt("Put paper in the TOF, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_SLIP_TOF, PUT_IN, "status.slipTOF == VX_FALSE\n")) return false;
    operatorPrompt("Take the paper out of the TOF, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_SLIP_TOF, TAKEN_OUT, "status.slipTOF == VX_TRUE\n")) return false;

    operatorPrompt("Put the paper in the BOF and wait for it to be validated, then hit enter");
    WriteOutcome sent = timedChunkedWrite(port, VALIDATION_COMMAND, sizeof VALIDATION_COMMAND);
    if (!checkWriteOutcome(port, __LINE__, sent)) return false;
    platform::Sleep(VALIDATION_WAIT_MS);
    if (!slipStep(port, area, __LINE__, VX_OFFSET_SLIP_COF, PUT_IN, "status.slipCOF == VX_FALSE\n")) return false;
    operatorPrompt("Take the paper out the slip, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_SLIP_COF, TAKEN_OUT, "status.slipCOF != VX_TRUE\n")) return false;

    operatorPrompt("Put paper in the COF and wait for the paper to be validated, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_VALIDATION_PAPER_PRESENCE, PUT_IN,
            "status.validationPaperPresence == VX_FALSE\n"))
        return false;
    operatorPrompt("Take the paper out of the COF, then hit enter");
    if (!slipStep(port, area, __LINE__, VX_OFFSET_VALIDATION_PAPER_PRESENCE, TAKEN_OUT,
            "status.validationPaperPresence == VX_TRUE\n"))
        return false;

    ClosePort(port);
    return true;
}
