#include <stdio.h>

#include "cases/extended/checks.h"
#include "cases/extended/extended.h"
#include "runner/extended_texts.h"
#include "runner/harness.h"

static const unsigned BLOCKS_IN_A_ROW = 2;
// A few lines: a job any printer ends well within the open's time limit.
static const char BLOCK_LINE[] = "devbench-extended: a line in a checked block";
static const unsigned BLOCK_LINES = 3;
// The limit Test Too Much Data For Parallel Port opens with: shorter than
// a printer at its own pace takes to feed and cut a job.
static const uint32_t SHORT_TIME_LIMIT = 2000;

static const Wanted WANT_JOB_OUT = { "", "the technician's no: the job was out when End returned" };

// Begin, a few lines, End: a library may give up on the block (VX_FALSE);
// `ended` says whether End claimed it ended.
static bool oneBlock(PortHandle port, Check check, bool* ended)
{
    if (!expectStatus(port, BEGIN_BLOCK, PRINTER_READY, check)) return false;
    for (unsigned i = 0; i < BLOCK_LINES; ++i) {
        if (!writeLine(port, BLOCK_LINE, check)) return false;
    }
    RecordArea area;
    VX_BOOL result = VX_FALSE;
    if (!askStatus(port, END_BLOCK, area, check, &result)) return false;
    *ended = result != VX_FALSE;
    if (!*ended) return true;
    if (!expectWords(port, END_BLOCK, lentPart(area), PRINTER_READY, check)) return false;
    // Only the person at the printer sees whether the job is out.
    if (operatorSays(EXT_ASK_STILL_PRINTING) == SAID_YES)
        return closeAndFail(
            port, check, WANT_JOB_OUT, "EndCheckedBlockEx returned VX_TRUE while the printer was still printing\n");
    return true;
}

bool testBlocksInARow(const char* portName, const char* portSettings)
{
    printf("testBlocksInARow\n");
    operatorPrompt("Make the printer online, then hit enter");
    PortHandle port = openPort(portName, portSettings, OPEN_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open" }, WANT_HANDLE, "OpenPortA return NULL\n");
    for (unsigned block = 0; block < BLOCKS_IN_A_ROW; ++block) {
        bool ended = false;
        if (!oneBlock(port, { __LINE__, "block" }, &ended)) return false;
        if (!ended)
            return closeAndFail(port, { __LINE__, "block-ended" }, WANT_SUCCESS, "EndCheckedBlock returned VX_FALSE\n");
    }
    noteCall("ClosePort", ClosePort(port));

    // With a short limit the printer may give up on the block: End may then
    // fail, but never claim a block the printer has not finished.
    port = openPort(portName, portSettings, SHORT_TIME_LIMIT);
    if (port == nullptr) return failure({ __LINE__, "open-short" }, WANT_HANDLE, "OpenPortA return NULL\n");
    bool ended = false;
    if (!oneBlock(port, { __LINE__, "short-block" }, &ended)) return false;
    if (!ended) note("EndCheckedBlockEx returned VX_FALSE for a block opened with a 2000 ms limit\n");
    noteCall("ClosePort", ClosePort(port));
    return true;
}
