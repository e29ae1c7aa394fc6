#include <stdio.h>

#include "cases/cases.h"
#include "cases/status_steps.h"
#include "platform/platform.h"
#include "runner/harness.h"

// Time the printer gets to validate the slip before its status is read.
static const uint32_t VALIDATION_WAIT_MS = 5000;

// ESC + A 3, then six line feeds.
static const unsigned char VALIDATION_COMMAND[] = { 0x1B, 0x2B, 0x41, 0x33, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A };

// One slip or validation flag of the hybrid test: where it is, what the
// answer line shows, and the failure lines of its put-in and take-out steps.
struct SlipFlag {
    uint32_t offset;
    Wanted putIn;
    Wanted takenOut;
    const char* putInFailure;
    const char* takenOutFailure;
};

static const SlipFlag SLIP_BOF = { VX_OFFSET_SLIP_BOF, { "offline, slipBOF", "offline 0 and slipBOF not 0" },
    { "offline, slipBOF", "offline 0 and slipBOF 0" }, "status.slipBOF == VX_FALSE\n", "status.slipBOF == VX_TRUE\n" };
static const SlipFlag SLIP_TOF = { VX_OFFSET_SLIP_TOF, { "offline, slipTOF", "offline 0 and slipTOF not 0" },
    { "offline, slipTOF", "offline 0 and slipTOF 0" }, "status.slipTOF == VX_FALSE\n", "status.slipTOF == VX_TRUE\n" };
static const SlipFlag SLIP_COF = { VX_OFFSET_SLIP_COF, { "offline, slipCOF", "offline 0 and slipCOF not 0" },
    { "offline, slipCOF", "offline 0 and slipCOF 0" }, "status.slipCOF == VX_FALSE\n", "status.slipCOF != VX_TRUE\n" };
static const SlipFlag VALIDATION_PAPER = { VX_OFFSET_VALIDATION_PAPER_PRESENCE,
    { "offline, validationPaperPresence", "offline 0 and validationPaperPresence not 0" },
    { "offline, validationPaperPresence", "offline 0 and validationPaperPresence 0" },
    "status.validationPaperPresence == VX_FALSE\n", "status.validationPaperPresence == VX_TRUE\n" };

// testGetParsedStatus and testOldGetParsedStatus: the same steps on the
// level-1 and the old record, which keep paperEmpty in different places.
static bool parsedStatusTest(
    const char* portName, const char* portSettings, const char* banner, const StatusQuery& query)
{
    RecordArea area;
    printf("%s\n", banner);
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!firstQueryInTime(port, query, area, { __LINE__, "first" }, "offlineStatus != VX_FALSE\n")) return false;

    // The online query must see the open cover and the missing paper too.
    operatorPrompt("Make the printer offline (cover open + no paper), then hit enter");
    if (!queryCoverAndPaperOut(port, query, area, { __LINE__, "cover-paper-out" })) return false;
    if (!expectOnlineFlag(port, VX_FALSE, { __LINE__, "cover-paper-out-online" })) return false;

    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, { __LINE__, "esc-k" })) return false;
    if (!queryOnline(port, query, area, { __LINE__, "online-again" })) return false;

    ClosePort(port);
    return true;
}

bool testGetParsedStatus(const char* portName, const char* portSettings)
{
    return parsedStatusTest(portName, portSettings, "testGetParsedStatus", LEVEL1_STATUS);
}

bool testOldGetParsedStatus(const char* portName, const char* portSettings)
{
    return parsedStatusTest(portName, portSettings, "testOldGetParsedStatus", OLD_STATUS);
}

bool testGetParsedStatusDisconnect(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testGetParsedStatusDisconnect\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!queryOnline(port, LEVEL1_STATUS, area, { __LINE__, "online" })) return false;

    operatorPrompt("Disconnect the printer and hit enter");
    if (!queryFails(port, LEVEL1_STATUS, area, { __LINE__, "unplugged" })) return false;

    operatorPrompt("Connect the printer and make it offline (cover open + no paper), then hit enter");
    if (!queryCoverAndPaperOut(port, LEVEL1_STATUS, area, { __LINE__, "replugged-cover-paper-out" })) return false;

    ClosePort(port);
    return true;
}

// A slip step reads the flag it names and offline only: the cover and the
// paper roll are no part of what it asks for (a library may report the slip's
// paper in paperEmpty). A put-in flag is any word but 0, as a sensor's bit
// may be; a taken-out flag is exactly 0, so one stuck at -1 or 2 fails there.
static bool slipStep(PortHandle port, unsigned char* area, Check check, const SlipFlag& flag, bool putIn)
{
    if (!queryStatus(port, LEVEL1_STATUS, area, check)) return false;
    VX_BOOL word = statusWord(lentPart(area), flag.offset);
    bool right = putIn ? word != 0 : word == 0;
    if (!reportsOffline(lentPart(area)) && right) return true;
    if (putIn) return closeAndFail(port, check, flag.putIn, "%s", flag.putInFailure);
    return closeAndFail(port, check, flag.takenOut, "%s", flag.takenOutFailure);
}

static bool putIn(PortHandle port, unsigned char* area, Check check, const SlipFlag& flag)
{
    return slipStep(port, area, check, flag, true);
}

static bool takenOut(PortHandle port, unsigned char* area, Check check, const SlipFlag& flag)
{
    return slipStep(port, area, check, flag, false);
}

bool testHybridGetParsedStatus(const char* portName, const char* portSettings)
{
    RecordArea area;
    printf("testHybridGetParsedStatus\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    if (!firstQueryInTime(port, LEVEL1_STATUS, area, { __LINE__, "first" }, "offlineStatus == VX_FALSE\n"))
        return false;

    operatorPrompt("Put paper in the BOF, then hit enter");
    if (!putIn(port, area, { __LINE__, "bof-in" }, SLIP_BOF)) return false;
    operatorPrompt("Take the paper out of the BOF, then hit enter");
    if (!takenOut(port, area, { __LINE__, "bof-out" }, SLIP_BOF)) return false;

    operatorPrompt("Put paper in the TOF, then hit enter");
    if (!putIn(port, area, { __LINE__, "tof-in" }, SLIP_TOF)) return false;
    operatorPrompt("Take the paper out of the TOF, then hit enter");
    if (!takenOut(port, area, { __LINE__, "tof-out" }, SLIP_TOF)) return false;

    operatorPrompt("Put the paper in the BOF and wait for it to be validated, then hit enter");
    WriteOutcome sent = timedChunkedWrite(port, VALIDATION_COMMAND, sizeof VALIDATION_COMMAND);
    if (!checkWriteOutcome(port, { __LINE__, "validate" }, sent)) return false;
    platform::Sleep(VALIDATION_WAIT_MS);
    if (!putIn(port, area, { __LINE__, "cof-in" }, SLIP_COF)) return false;
    operatorPrompt("Take the paper out the slip, then hit enter");
    if (!takenOut(port, area, { __LINE__, "cof-out" }, SLIP_COF)) return false;

    operatorPrompt("Put paper in the COF and wait for the paper to be validated, then hit enter");
    if (!putIn(port, area, { __LINE__, "validation-in" }, VALIDATION_PAPER)) return false;
    operatorPrompt("Take the paper out of the COF, then hit enter");
    if (!takenOut(port, area, { __LINE__, "validation-out" }, VALIDATION_PAPER)) return false;

    ClosePort(port);
    return true;
}
