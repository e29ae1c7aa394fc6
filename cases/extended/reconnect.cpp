#include <stdio.h>
#include <string.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "platform/platform.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

static const uint32_t REPLY_WAIT_MS = 500;
static const uint32_t READ_SIZE = 100;
static const unsigned char REPLY_HEAD[] = { 0x1B, 0x23, 0x2A, 0x2C };

// While unplugged: the write must fail or take nothing, and the old record
// (which the contract does not oblige to fail) must not claim the printer.
static bool unpluggedCalls(PortHandle port)
{
    static const char LINE[] = EXT_LINE_UNPLUGGED "\n";
    uint32_t written = 0;
    WriteOutcome outcome = lentWrite(port, LINE, sizeof LINE - 1, &written);
    if (outcome == WRITE_ALL_WRITTEN && written != 0)
        return closeAndFail(port, __LINE__, "WritePort did not fail as expected\n");
    if (outcome != WRITE_ALL_WRITTEN && outcome != WRITE_RETURNED_FALSE)
        return checkWriteOutcome(port, __LINE__, outcome);
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!callRecord(port, CALL_STATUS_OLD, area, __LINE__, &result)) return false;
    if (result != VX_FALSE && statusWord(lentPart(area), VX_OFFSET_OFFLINE) == 0)
        return closeAndFail(port, __LINE__, "GetParsedStatus reported an unplugged printer online\n");
    return true;
}

// After the reconnect: the reply read before the disconnect must not come
// again. Other bytes (a status a printer sends as it comes up) are its own.
static bool noReplyAgain(PortHandle port)
{
    platform::Sleep(REPLY_WAIT_MS);
    unsigned char area[guardedSize(READ_SIZE)];
    LentWord count;
    VX_BOOL result = ReadPort(port, lend(area, READ_SIZE), READ_SIZE, lendCount(&count));
    if (!checkLent(port, __LINE__, "ReadPort", area, READ_SIZE, "buffer")) return false;
    if (!checkLent(port, __LINE__, "ReadPort", count, "count")) return false;
    uint32_t got = lentValue(count);
    if (result == VX_FALSE || got == 0) return true;
    if (got > READ_SIZE) return closeAndFail(port, __LINE__, "ReadPort reported more bytes than it was asked for\n");
    const unsigned char* bytes = lentPart(area);
    for (uint32_t i = 0; i + sizeof REPLY_HEAD <= got; ++i) {
        if (memcmp(bytes + i, REPLY_HEAD, sizeof REPLY_HEAD) == 0)
            return closeAndFail(port, __LINE__, "ReadPort gave the firmware reply again after the reconnect\n");
    }
    note("ReadPort gave %u bytes after the reconnect that nobody asked for\n", static_cast<unsigned>(got));
    return true;
}

bool testReconnect(const char* portName, const char* portSettings)
{
    printf("testReconnect\n");
    operatorPrompt("Make the printer online and hit enter");
    PortHandle port = OpenPortA(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure(__LINE__, "OpenPortA return NULL\n");
    if (!sendFirmwareQuery(port, __LINE__) || !expectFirmwareReply(port, READ_SIZE, __LINE__)) return false;
    if (!expectStatus(port, CALL_STATUS_OLD, PRINTER_READY, __LINE__)) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    if (!unpluggedCalls(port)) return false;

    // Every call must answer for the printer as it is now, not as a failed
    // call left it.
    operatorPrompt("Connect the printer and hit enter");
    if (!expectStatus(port, CALL_STATUS_EX, PRINTER_READY, __LINE__)) return false;
    if (!expectStatus(port, CALL_STATUS_OLD, PRINTER_READY, __LINE__)) return false;
    if (!expectOnlineFlag(port, VX_TRUE, __LINE__)) return false;
    if (!noReplyAgain(port)) return false;
    if (!writeLine(port, "devbench-extended: written after the reconnect", __LINE__)) return false;
    if (operatorSays(EXT_ASK_UNPLUGGED_LINE) == SAID_YES)
        return closeAndFail(port, __LINE__, "the line refused while unplugged came out after the reconnect\n");
    ClosePort(port);
    return true;
}
