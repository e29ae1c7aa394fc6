#include "cases/status_steps.h"

#include "platform/platform.h"

// The first status call of a session may take at most this long.
static const uint32_t FIRST_QUERY_LIMIT_MS = 200;

static const unsigned char ESC_K_COMMAND[] = { 0x1B, 0x4B, 0x01, 0x00 };

static const Wanted WANT_ONLINE_RECORD = { "offline", "0" };
static const Wanted WANT_COVER_SHUT = { "coverOpen", "0" };
static const Wanted WANT_PAPER_IN = { "paperEmpty", "0" };
static const Wanted WANT_COVER_AND_PAPER_OUT = { "offline, coverOpen, paperEmpty", "each 1" };
static const Wanted WANT_RECORD_OFFLINE = { "offline", "1" };
static const Wanted WANT_IN_TIME = { "", "at most 200 ms" };
static_assert(FIRST_QUERY_LIMIT_MS == 200, "the wanted text names the limit");

static VX_BOOL level1Status(PortHandle port, unsigned char* record)
{
    return GetParsedStatusEx(port, record, VX_STATUS_LEVEL_1);
}

static VX_BOOL oldStatus(PortHandle port, unsigned char* record) { return GetParsedStatus(port, record); }

static VX_BOOL beginBlock(PortHandle port, unsigned char* record)
{
    return BeginCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
}

static VX_BOOL endBlock(PortHandle port, unsigned char* record)
{
    return EndCheckedBlockEx(port, record, VX_STATUS_LEVEL_1);
}

const StatusQuery LEVEL1_STATUS = { level1Status, "GetParsedStatusEx", "GetParsedStatus returned VX_FALSE\n",
    VX_STATUS_LEVEL1_SIZE, VX_OFFSET_PAPER_EMPTY_LEVEL1, false };
const StatusQuery OLD_STATUS = { oldStatus, "GetParsedStatus", "GetParsedStatus returned VX_FALSE\n",
    VX_STATUS_OLD_SIZE, VX_OFFSET_PAPER_EMPTY_OLD, false };
const StatusQuery BEGIN_BLOCK = { beginBlock, "BeginCheckedBlockEx", "BeginCheckedBlock returned VX_FALSE\n",
    VX_STATUS_LEVEL1_SIZE, VX_OFFSET_PAPER_EMPTY_LEVEL1, false };
// End is where the cover opens while the library finishes the block: how
// long it took tells the technician whether there was time to open it.
const StatusQuery END_BLOCK = { endBlock, "EndCheckedBlockEx", "EndCheckedBlock returned VX_FALSE\n",
    VX_STATUS_LEVEL1_SIZE, VX_OFFSET_PAPER_EMPTY_LEVEL1, true };

// Each flag must be exactly 1; any other non-zero value is a library fault.
bool offlineWithCoverOpen(const unsigned char* record)
{
    return statusWord(record, VX_OFFSET_OFFLINE) == 1 && statusWord(record, VX_OFFSET_COVER_OPEN) == 1;
}

static bool coverAndPaperOut(const unsigned char* record, uint32_t paperEmptyOffset)
{
    return offlineWithCoverOpen(record) && statusWord(record, paperEmptyOffset) == 1;
}

// Every word the suite reads from this record, for the answer line.
static void noteRecord(const StatusQuery& query, const unsigned char* record)
{
    noteValue("offline", static_cast<uint32_t>(statusWord(record, VX_OFFSET_OFFLINE)));
    noteValue("coverOpen", static_cast<uint32_t>(statusWord(record, VX_OFFSET_COVER_OPEN)));
    noteValue("paperEmpty", static_cast<uint32_t>(statusWord(record, query.paperEmptyOffset)));
    if (query.recordSize != VX_STATUS_LEVEL1_SIZE) return;
    noteValue("slipTOF", static_cast<uint32_t>(statusWord(record, VX_OFFSET_SLIP_TOF)));
    noteValue("slipCOF", static_cast<uint32_t>(statusWord(record, VX_OFFSET_SLIP_COF)));
    noteValue("slipBOF", static_cast<uint32_t>(statusWord(record, VX_OFFSET_SLIP_BOF)));
    noteValue(
        "validationPaperPresence", static_cast<uint32_t>(statusWord(record, VX_OFFSET_VALIDATION_PAPER_PRESENCE)));
}

bool askStatus(PortHandle port, const StatusQuery& query, unsigned char* area, Check check, VX_BOOL* result)
{
    uint32_t start = platform::GetTickCount();
    *result = query.call(port, lend(area, query.recordSize));
    uint32_t elapsed = platform::GetTickCount() - start;
    noteCall(query.name, *result);
    noteRecord(query, lentPart(area));
    if (query.timed) noteElapsed(elapsed);
    return checkLent(port, check, query.name, area, query.recordSize, "record");
}

bool queryStatus(PortHandle port, const StatusQuery& query, unsigned char* area, Check check)
{
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, query, area, check, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, check, WANT_SUCCESS, "%s", query.returnedFalse);
    return true;
}

// After a step's own checks of a record where the printer was made online,
// which has its cover shut and paper in.
static bool coverShutPaperIn(PortHandle port, const StatusQuery& query, const unsigned char* area, Check check)
{
    if (statusWord(lentPart(area), VX_OFFSET_COVER_OPEN) != 0)
        return closeAndFail(port, check, WANT_COVER_SHUT, "status.coverOpen != VX_FALSE\n");
    if (statusWord(lentPart(area), query.paperEmptyOffset) != 0)
        return closeAndFail(port, check, WANT_PAPER_IN, "status.paperEmpty != VX_FALSE\n");
    return true;
}

bool queryOnline(PortHandle port, const StatusQuery& query, unsigned char* area, Check check)
{
    if (!queryStatus(port, query, area, check)) return false;
    if (reportsOffline(lentPart(area)))
        return closeAndFail(port, check, WANT_ONLINE_RECORD, "offlineStatus != VX_FALSE\n");
    return coverShutPaperIn(port, query, area, check);
}

// The clock covers the call and its offline check; offline is reported
// before time.
bool firstQueryInTime(
    PortHandle port, const StatusQuery& query, unsigned char* area, Check check, const char* offlineText)
{
    uint32_t start = platform::GetTickCount();
    if (!queryStatus(port, query, area, check)) return false;
    if (reportsOffline(lentPart(area))) return closeAndFail(port, check, WANT_ONLINE_RECORD, "%s", offlineText);
    // Unsigned difference, so a wrapping tick counter does not matter.
    uint32_t elapsed = platform::GetTickCount() - start;
    noteElapsed(elapsed);
    if (elapsed > FIRST_QUERY_LIMIT_MS)
        return closeAndFail(port, check, WANT_IN_TIME, "GetParsedStatus took toooooooo looooooooooooong\n");
    return coverShutPaperIn(port, query, area, check);
}

bool queryCoverAndPaperOut(PortHandle port, const StatusQuery& query, unsigned char* area, Check check)
{
    if (!queryStatus(port, query, area, check)) return false;
    if (!coverAndPaperOut(lentPart(area), query.paperEmptyOffset))
        return closeAndFail(port, check, WANT_COVER_AND_PAPER_OUT, "status.offline != VX_TRUE\n");
    return true;
}

bool queryFails(PortHandle port, const StatusQuery& query, unsigned char* area, Check check)
{
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, query, area, check, &result)) return false;
    if (result != VX_FALSE)
        return closeAndFail(port, check, WANT_FAILURE, "GetParsedStatus did not fail as expected\n");
    return true;
}

bool expectRecordOffline(PortHandle port, Check check)
{
    RecordArea area;
    if (!queryStatus(port, LEVEL1_STATUS, area, check)) return false;
    if (statusWord(lentPart(area), VX_OFFSET_OFFLINE) != 1)
        return closeAndFail(port, check, WANT_RECORD_OFFLINE, "status.offline != VX_TRUE\n");
    return true;
}

bool writeEscK(PortHandle port, Check check)
{
    // The status call that follows is the check, so the count is not examined.
    uint32_t written = 0;
    return checkWriteOutcome(port, check, lentWrite(port, ESC_K_COMMAND, sizeof ESC_K_COMMAND, &written));
}

bool askOnlineStatus(PortHandle port, Check check, VX_BOOL* result, uint32_t* online)
{
    LentWord flag;
    *result = GetOnlineStatus(port, lendFlag(&flag));
    noteCall("GetOnlineStatus", *result);
    noteValue("online", lentValue(flag));
    if (!checkLent(port, check, "GetOnlineStatus", flag, "online flag")) return false;
    *online = lentValue(flag);
    return true;
}

// The flag is compared with 1 and 0 exactly: any other value, the guard's
// pattern of a flag left unset among them, is neither online nor offline.
bool expectOnlineFlag(PortHandle port, VX_BOOL expected, Check check)
{
    static const Wanted WANT_ONLINE = { "online", "1" };
    static const Wanted WANT_OFFLINE = { "online", "0" };
    VX_BOOL result = VX_FALSE;
    uint32_t online = 0;
    if (!askOnlineStatus(port, check, &result, &online)) return false;
    if (result == VX_FALSE) return closeAndFail(port, check, WANT_SUCCESS, "GetOnlineStatus returned VX_FALSE\n");
    if (online != static_cast<uint32_t>(expected)) {
        if (expected == VX_TRUE) return closeAndFail(port, check, WANT_ONLINE, "onlineStatus != VX_TRUE\n");
        return closeAndFail(port, check, WANT_OFFLINE, "onlineStatus != VX_FALSE\n");
    }
    return true;
}
