#include "standin/record_faults.h"

#include <string.h>

#include "portlib/KelmorPort.h"

namespace standin {

using wire::Layout;
using wire::LAYOUT_OLD;

void setRecordWord(std::vector<uint8_t>& words, uint32_t offset, int32_t value)
{
    memcpy(words.data() + offset, &value, sizeof value);
}

int32_t recordWord(const std::vector<uint8_t>& words, uint32_t offset)
{
    int32_t value;
    memcpy(&value, words.data() + offset, sizeof value);
    return value;
}

void applyRecordFaults(const Faults& faults, Layout layout, std::vector<uint8_t>& words, bool* coverSeenOpen)
{
    uint32_t paperEmpty = layout == LAYOUT_OLD ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1;
    if (faults.paperOffset) {
        uint32_t wrong = layout == LAYOUT_OLD ? VX_OFFSET_PAPER_EMPTY_LEVEL1 : VX_OFFSET_PAPER_EMPTY_OLD;
        setRecordWord(words, wrong, recordWord(words, paperEmpty));
        setRecordWord(words, paperEmpty, 0);
    }
    if (faults.offlineStuck0) setRecordWord(words, VX_OFFSET_OFFLINE, 0);
    if (faults.offlineCoverPaperOnly) {
        bool coverOrPaper = recordWord(words, VX_OFFSET_COVER_OPEN) != 0 || recordWord(words, paperEmpty) != 0;
        setRecordWord(words, VX_OFFSET_OFFLINE, coverOrPaper ? 1 : 0);
    }
    if (faults.coverLatched) {
        *coverSeenOpen = *coverSeenOpen || recordWord(words, VX_OFFSET_COVER_OPEN) != 0;
        if (*coverSeenOpen) setRecordWord(words, VX_OFFSET_COVER_OPEN, 1);
    }
    if (faults.paperFromCover) setRecordWord(words, paperEmpty, recordWord(words, VX_OFFSET_COVER_OPEN));
    if (faults.coverPaperFromOffline) {
        setRecordWord(words, paperEmpty, recordWord(words, VX_OFFSET_OFFLINE));
        setRecordWord(words, VX_OFFSET_COVER_OPEN, recordWord(words, VX_OFFSET_OFFLINE));
    }
    if (layout == LAYOUT_OLD) return;
    if (faults.slipAnywhere) {
        bool anywhere = recordWord(words, VX_OFFSET_SLIP_TOF) != 0 || recordWord(words, VX_OFFSET_SLIP_COF) != 0
            || recordWord(words, VX_OFFSET_SLIP_BOF) != 0;
        for (uint32_t offset : { VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF })
            setRecordWord(words, offset, anywhere ? 1 : 0);
    }
    if (faults.slipZero) {
        for (uint32_t offset : { VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF })
            setRecordWord(words, offset, 0);
    }
    if (faults.slipMinus1) {
        for (uint32_t offset :
            { VX_OFFSET_SLIP_TOF, VX_OFFSET_SLIP_COF, VX_OFFSET_SLIP_BOF, VX_OFFSET_VALIDATION_PAPER_PRESENCE })
            setRecordWord(words, offset, -1);
    }
}

void applyBlockFaults(const Faults& faults, std::vector<uint8_t>& words)
{
    if (faults.blockOldLayout) {
        setRecordWord(words, VX_OFFSET_PAPER_EMPTY_OLD, recordWord(words, VX_OFFSET_PAPER_EMPTY_LEVEL1));
        setRecordWord(words, VX_OFFSET_PAPER_EMPTY_LEVEL1, 0);
    }
    if (faults.blockCoverOfflineSwapped) {
        int32_t cover = recordWord(words, VX_OFFSET_COVER_OPEN);
        setRecordWord(words, VX_OFFSET_COVER_OPEN, recordWord(words, VX_OFFSET_OFFLINE));
        setRecordWord(words, VX_OFFSET_OFFLINE, cover);
    }
}

std::vector<uint8_t> cannedRecord(Layout layout)
{
    uint32_t size = layout == LAYOUT_OLD ? VX_STATUS_OLD_SIZE : VX_STATUS_LEVEL1_SIZE;
    std::vector<uint8_t> canned(size, 0);
    uint32_t paper = layout == LAYOUT_OLD ? VX_OFFSET_PAPER_EMPTY_OLD : VX_OFFSET_PAPER_EMPTY_LEVEL1;
    for (uint32_t offset : { uint32_t(VX_OFFSET_COVER_OPEN), uint32_t(VX_OFFSET_OFFLINE), paper })
        setRecordWord(canned, offset, 1);
    return canned;
}

} // namespace standin
