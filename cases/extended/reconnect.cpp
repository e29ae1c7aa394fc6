#include <stdio.h>
#include <string.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

static const uint32_t REPLY_WAIT_MS = 500;
static const uint32_t READ_SIZE = 100;
static const unsigned STATUS_ASKS = 2;
static const unsigned char REPLY_HEAD[] = { 0x1B, 0x23, 0x2A, 0x2C };

static const Wanted WANT_NOTHING_WRITTEN = { "count", "VX_FALSE, or a count of 0" };
static const Wanted WANT_OFFLINE_OR_FAILED = { "offline", "VX_FALSE, or 1" };
static const Wanted WANT_NO_OLD_REPLY = { "count", "no firmware reply nobody asked for" };
static const Wanted WANT_NOT_RESET = { "", "the technician's no: the refused reset never happened" };
static const Wanted WANT_NOT_REPLAYED = { "", "the technician's no: the refused line never printed" };

// A record asked for while unplugged: the call may fail, but a record it
// gives must not claim the printer online.
static bool unpluggedRecord(PortHandle port, const StatusQuery& query, Check check)
{
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, query, area, check, &result)) return false;
    if (result != VX_FALSE && statusWord(lentPart(area), VX_OFFSET_OFFLINE) == 0)
        return closeAndFail(
            port, check, WANT_OFFLINE_OR_FAILED, "%s reported an unplugged printer online\n", query.name);
    return true;
}

// While unplugged: the write must fail or take nothing, and the old record
// (which the contract does not oblige to fail) must not claim the printer.
static bool unpluggedCalls(PortHandle port)
{
    static const char LINE[] = EXT_LINE_UNPLUGGED "\n";
    uint32_t written = 0;
    WriteOutcome outcome = lentWrite(port, LINE, sizeof LINE - 1, &written);
    if (outcome == WRITE_ALL_WRITTEN && written != 0)
        return closeAndFail(
            port, { __LINE__, "unplugged-write" }, WANT_NOTHING_WRITTEN, "WritePort did not fail as expected\n");
    if (outcome != WRITE_ALL_WRITTEN && outcome != WRITE_RETURNED_FALSE)
        return checkWriteOutcome(port, { __LINE__, "unplugged-write-lent" }, outcome);
    if (!unpluggedRecord(port, OLD_STATUS, { __LINE__, "unplugged-old" })) return false;
    // Asked again: a library may fail the first call and answer the next
    // ones from what it last had.
    for (unsigned i = 0; i < STATUS_ASKS; ++i) {
        if (!unpluggedRecord(port, LEVEL1_STATUS, { __LINE__, "unplugged-status" })) return false;
    }
    return true;
}

// After the reconnect: the reply read before the disconnect must not come
// again. Other bytes (a status a printer sends as it comes up) are its own.
static bool noReplyAgain(PortHandle port)
{
    platform::Sleep(REPLY_WAIT_MS);
    unsigned char area[guardedSize(READ_SIZE)];
    VX_BOOL result = VX_FALSE;
    uint32_t got = 0;
    if (!lentRead(port, area, READ_SIZE, { __LINE__, "read-after" }, &result, &got)) return false;
    if (result == VX_FALSE || got == 0) return true;
    const unsigned char* bytes = lentPart(area);
    for (uint32_t i = 0; i + sizeof REPLY_HEAD <= got; ++i) {
        if (memcmp(bytes + i, REPLY_HEAD, sizeof REPLY_HEAD) == 0)
            return closeAndFail(port, { __LINE__, "old-reply" }, WANT_NO_OLD_REPLY,
                "ReadPort gave the firmware reply again after the reconnect\n");
    }
    note("ReadPort gave %u bytes after the reconnect that nobody asked for\n", static_cast<unsigned>(got));
    return true;
}

// The Online key pressed after the reconnect: the flag follows it both ways.
static bool flagFollows(PortHandle port)
{
    operatorPrompt("Make the printer online, then make it offline, then hit enter");
    if (!expectOnlineFlag(port, VX_FALSE, { __LINE__, "offline-after" })) return false;
    operatorPrompt("Make the printer online, then hit enter");
    return expectOnlineFlag(port, VX_TRUE, { __LINE__, "online-again" });
}

bool testReconnect(const char* portName, const char* portSettings)
{
    printf("testReconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!sendFirmwareQuery(port, { __LINE__, "query" })) return false;
    if (!expectFirmwareReply(port, READ_SIZE, { __LINE__, "reply" })) return false;
    if (!expectStatus(port, OLD_STATUS, PRINTER_READY, { __LINE__, "old-before" })) return false;
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status-before" })) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    if (!unpluggedCalls(port)) return false;
    bool resetRefused = noteCall("ResetDevice", ResetDevice(port)) == VX_FALSE;

    // Every call must answer for the printer as it is now, not as a failed
    // call left it.
    operatorPrompt("Connect the printer and hit enter");
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "status-after" })) return false;
    if (!expectStatus(port, OLD_STATUS, PRINTER_READY, { __LINE__, "old-after" })) return false;
    if (!expectOnlineFlag(port, VX_TRUE, { __LINE__, "online-after" })) return false;
    if (!noReplyAgain(port)) return false;
    if (!flagFollows(port)) return false;
    if (resetRefused && operatorSays(EXT_ASK_RESET) == SAID_YES)
        return closeAndFail(port, { __LINE__, "reset-replayed" }, WANT_NOT_RESET,
            "ResetDevice refused while unplugged reset the printer after the reconnect\n");
    if (!writeLine(port, "devbench-extended: written after the reconnect", { __LINE__, "write-after" })) return false;
    if (operatorSays(EXT_ASK_UNPLUGGED_LINE) == SAID_YES)
        return closeAndFail(port, { __LINE__, "replayed" }, WANT_NOT_REPLAYED,
            "the line refused while unplugged came out after the reconnect\n");
    noteCall("ClosePort", ClosePort(port));
    return true;
}
