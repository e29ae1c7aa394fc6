#include <string.h>

#include "platform/platform.h"
#include "runner/harness.h"

// One call with a count already lent, its guards whole: only the count is
// filled again, so a write of one byte per call costs little beside it.
static WriteOutcome writeWithCount(
    PortHandle port, LentWord& count, const void* bytes, uint32_t size, uint32_t* written)
{
    uint32_t* lent = reinterpret_cast<uint32_t*>(count.area + GUARD_SIZE);
    memset(lent, GUARD_BYTE, sizeof(uint32_t));
    VX_BOOL result = WritePort(port, bytes, size, lent);
    // Damage is reported whatever the call returned.
    LentDamage damage = lentDamage(count);
    if (damage != LENT_WHOLE) return damage == LENT_WRITTEN_BEFORE ? WRITE_BEFORE_COUNT : WRITE_PAST_COUNT;
    if (result == VX_FALSE) return WRITE_RETURNED_FALSE;
    *written = lentValue(count);
    return WRITE_ALL_WRITTEN;
}

WriteOutcome lentWrite(PortHandle port, const void* bytes, uint32_t size, uint32_t* written)
{
    LentWord count;
    lendCount(&count);
    return writeWithCount(port, count, bytes, size, written);
}

WriteOutcome timedChunkedWrite(PortHandle port, const unsigned char* bytes, uint32_t total)
{
    uint32_t sent = 0;
    LentWord count;
    lendCount(&count);
    while (sent < total) {
        uint32_t start = platform::GetTickCount();
        uint32_t written = 0;
        for (;;) {
            // No pause between attempts: the stall limit is the only bound.
            WriteOutcome call = writeWithCount(port, count, bytes + sent, total - sent, &written);
            if (call != WRITE_ALL_WRITTEN) return call;
            // A count above what was offered would make total - sent wrap and
            // the next call read past the buffer.
            if (written > total - sent) return WRITE_COUNT_TOO_LARGE;
            if (written != 0) break;
            // Unsigned difference, so a wrapping tick counter is no stall.
            if (platform::GetTickCount() - start >= WRITE_STALL_LIMIT_MS) return WRITE_STALLED;
        }
        sent += written;
    }
    return WRITE_ALL_WRITTEN;
}

bool checkWriteOutcome(PortHandle port, unsigned line, WriteOutcome outcome)
{
    switch (outcome) {
    case WRITE_ALL_WRITTEN:
        return true;
    case WRITE_RETURNED_FALSE:
        return closeAndFail(port, line, "WritePort returned VX_FALSE\n");
    case WRITE_STALLED:
        return closeAndFail(port, line, "WritePort timed out\n");
    case WRITE_COUNT_TOO_LARGE:
        return closeAndFail(port, line, "WritePort reported more bytes written than it was given\n");
    case WRITE_BEFORE_COUNT:
        return failLent(port, line, "WritePort", LENT_WRITTEN_BEFORE, sizeof(uint32_t), "count");
    case WRITE_PAST_COUNT:
        return failLent(port, line, "WritePort", LENT_WRITTEN_PAST, sizeof(uint32_t), "count");
    }
    // Not reached: every outcome returns above. Nothing passes by falling out.
    return false;
}
