#include <stdio.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

// A slip sensor's word with and without paper at it.
static const VX_BOOL ABSENT = 0;
static const VX_BOOL PRESENT = 1;

static const CoverPaperOnline COVER_ONLY = { 1, 1, 0 };
static const CoverPaperOnline PAPER_ONLY = { 0, 1, 1 };
static const CoverPaperOnline ONLINE_KEY_ONLY = { 0, 1, 0 };

static const Wanted WANT_NO_RESET = { "", "the technician's no: the printer did not restart" };
static const Wanted WANT_SLIP_CLEAR
    = { "slipTOF, slipCOF, slipBOF, validationPaperPresence", "not 1 where no paper is" };
static const Wanted WANT_SLIP_SET
    = { "slipTOF, slipCOF, slipBOF, validationPaperPresence", "not 0 where the paper is" };

// Every call that fills a record, in a state where the cover, the paper and
// the Online key differ. End may refuse to end a block on a printer that is
// offline; when it does end it, its record must be right too.
static bool everyRecord(PortHandle port, CoverPaperOnline want, Check check, bool* endNoted)
{
    if (!expectStatus(port, LEVEL1_STATUS, want, check)) return false;
    if (!expectStatus(port, OLD_STATUS, want, check)) return false;
    if (!expectStatus(port, BEGIN_BLOCK, want, check)) return false;
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, END_BLOCK, area, check, &result)) return false;
    if (result != VX_FALSE) return expectWords(port, END_BLOCK, lentPart(area), want, check);
    if (!*endNoted) note("EndCheckedBlockEx returned VX_FALSE for an empty block on an offline printer\n");
    *endNoted = true;
    return expectOnlineFlag(port, VX_FALSE, check);
}

// After the cover was opened and closed: a printer that latches the error
// stays offline until told otherwise, and no call but ResetDevice or ESC K
// may clear it.
static bool latchKept(PortHandle port, Check check)
{
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, LEVEL1_STATUS, area, check, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, check, WANT_SUCCESS, "GetParsedStatusEx returned VX_FALSE\n");
    VX_BOOL latched = statusWord(lentPart(area), VX_OFFSET_OFFLINE);
    CoverPaperOnline want = { 0, latched, 0 };
    if (!expectWords(port, LEVEL1_STATUS, lentPart(area), want, check)) return false;
    if (!expectStatus(port, BEGIN_BLOCK, want, check)) return false;
    return expectStatus(port, LEVEL1_STATUS, want, check);
}

bool testStatusApart(const char* portName, const char* portSettings)
{
    printf("testStatusApart\n");
    bool endNoted = false;
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    operatorPrompt(EXT_PROMPT_COVER_ONLY);
    if (!everyRecord(port, COVER_ONLY, { __LINE__, "cover-only" }, &endNoted)) return false;
    operatorPrompt(EXT_PROMPT_PAPER_ONLY);
    if (!everyRecord(port, PAPER_ONLY, { __LINE__, "paper-only" }, &endNoted)) return false;
    operatorPrompt("Make the printer online, then make it offline, then hit enter");
    if (!everyRecord(port, ONLINE_KEY_ONLY, { __LINE__, "key-only" }, &endNoted)) return false;
    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, { __LINE__, "esc-k" })) return false;
    if (!expectStatus(port, LEVEL1_STATUS, PRINTER_READY, { __LINE__, "online" })) return false;

    operatorPrompt(EXT_PROMPT_COVER_BLINK);
    if (!latchKept(port, { __LINE__, "latch" })) return false;
    if (operatorSays(EXT_ASK_RESET) == SAID_YES)
        return closeAndFail(port, { __LINE__, "no-reset" }, WANT_NO_RESET,
            "the printer reset while only status and Begin were asked for\n");
    operatorPrompt("Make the printer online, then hit enter");
    if (!writeEscK(port, { __LINE__, "esc-k-end" })) return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}

// A slip sensor alone: only its own word is set, the others and the
// validation paper clear. As devbench's slip checks, a word fails a put-in
// check only when it is 0 and a take-out check only when it is 1: a library
// may report a sensor by its bit of the status byte.
static bool slipAlone(PortHandle port, uint32_t sensorOffset, VX_BOOL value, Check check)
{
    static const uint32_t SLIP_WORDS[]
        = { VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF, VX_OFFSET_VALIDATION_PAPER_PRESENCE };
    static const char* const SLIP_NAMES[] = { "slipTOF", "slipCOF", "slipBOF", "validationPaperPresence" };
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, LEVEL1_STATUS, area, check, &result)) return false;
    if (result == VX_FALSE) return closeAndFail(port, check, WANT_SUCCESS, "GetParsedStatusEx returned VX_FALSE\n");
    if (!expectWords(port, LEVEL1_STATUS, lentPart(area), PRINTER_READY, check)) return false;
    for (unsigned i = 0; i < sizeof SLIP_WORDS / sizeof SLIP_WORDS[0]; ++i) {
        bool paperThere = SLIP_WORDS[i] == sensorOffset && value == PRESENT;
        VX_BOOL word = statusWord(lentPart(area), SLIP_WORDS[i]);
        if (paperThere && word == ABSENT)
            return closeAndFail(port, check, WANT_SLIP_SET, "status.%s is 0 with paper at it\n", SLIP_NAMES[i]);
        if (!paperThere && word == PRESENT)
            return closeAndFail(port, check, WANT_SLIP_CLEAR, "status.%s is 1, not 0\n", SLIP_NAMES[i]);
    }
    return true;
}

bool testSlipApart(const char* portName, const char* portSettings)
{
    printf("testSlipApart\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    operatorPrompt("Put paper in the TOF, then hit enter");
    if (!slipAlone(port, VX_OFFSET_SLIP_TOF, PRESENT, { __LINE__, "tof-in" })) return false;
    operatorPrompt("Take the paper out of the TOF, then hit enter");
    if (!slipAlone(port, VX_OFFSET_SLIP_TOF, ABSENT, { __LINE__, "tof-out" })) return false;
    operatorPrompt("Put paper in the BOF, then hit enter");
    if (!slipAlone(port, VX_OFFSET_SLIP_BOF, PRESENT, { __LINE__, "bof-in" })) return false;
    operatorPrompt("Take the paper out of the BOF, then hit enter");
    if (!slipAlone(port, VX_OFFSET_SLIP_BOF, ABSENT, { __LINE__, "bof-out" })) return false;
    operatorPrompt("Put paper in the COF and wait for the paper to be validated, then hit enter");
    if (!slipAlone(port, VX_OFFSET_VALIDATION_PAPER_PRESENCE, PRESENT, { __LINE__, "cof-in" })) return false;
    operatorPrompt("Take the paper out of the COF, then hit enter");
    if (!slipAlone(port, VX_OFFSET_VALIDATION_PAPER_PRESENCE, ABSENT, { __LINE__, "cof-out" })) return false;
    noteCall("ClosePort", ClosePort(port));
    return true;
}
