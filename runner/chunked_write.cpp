#include <string.h>

#include "platform/platform.h"
#include "runner/harness.h"

// The eight bytes on each side of a lent count: a count written wide, or a
// few bytes off, lands here first. The whole guards are compared once per
// write, so a library that writes farther out still fails the write.
static bool nearCountWhole(const LentWord& count)
{
    static const uint64_t PATTERN = (static_cast<uint64_t>(LENT_PATTERN) << 32) | LENT_PATTERN;
    uint64_t before;
    uint64_t after;
    memcpy(&before, count.area + GUARD_SIZE - sizeof before, sizeof before);
    memcpy(&after, count.area + GUARD_SIZE + sizeof(uint32_t), sizeof after);
    return before == PATTERN && after == PATTERN;
}

static WriteOutcome damageOutcome(const LentWord& count)
{
    LentDamage damage = lentDamage(count);
    if (damage == LENT_WHOLE) return WRITE_ALL_WRITTEN;
    return damage == LENT_WRITTEN_BEFORE ? WRITE_BEFORE_COUNT : WRITE_PAST_COUNT;
}

static void noteWrite(VX_BOOL result, const LentWord& count, uint32_t offered)
{
    noteCall("WritePort", result);
    noteValue("count", lentValue(count));
    noteValue("offered", offered);
}

WriteOutcome lentWrite(PortHandle port, const void* bytes, uint32_t size, uint32_t* written)
{
    LentWord count;
    VX_BOOL result = WritePort(port, bytes, size, lendCount(&count));
    noteWrite(result, count, size);
    // Damage is reported whatever the call returned.
    WriteOutcome damage = damageOutcome(count);
    if (damage != WRITE_ALL_WRITTEN) return damage;
    if (result == VX_FALSE) return WRITE_RETURNED_FALSE;
    *written = lentValue(count);
    return WRITE_ALL_WRITTEN;
}

// One chunk: calls until the library takes a byte, fails, or stalls. Only
// the count is filled again before each call, so a write of one byte per
// call costs little beside the call itself.
static WriteOutcome writeChunk(
    PortHandle port, LentWord& count, const unsigned char* bytes, uint32_t left, VX_BOOL* result, uint32_t* written)
{
    uint32_t* lent = reinterpret_cast<uint32_t*>(count.area + GUARD_SIZE);
    uint32_t start = platform::GetTickCount();
    for (;;) {
        memset(lent, GUARD_BYTE, sizeof(uint32_t));
        // No pause between attempts: the stall limit is the only bound.
        *result = WritePort(port, bytes, left, lent);
        if (!nearCountWhole(count)) return WRITE_PAST_COUNT;
        if (*result == VX_FALSE) return WRITE_RETURNED_FALSE;
        *written = lentValue(count);
        // A count above what was offered would make the remaining count wrap
        // and the next call read past the buffer.
        if (*written > left) return WRITE_COUNT_TOO_LARGE;
        if (*written != 0) return WRITE_ALL_WRITTEN;
        // Unsigned difference, so a wrapping tick counter is no stall.
        if (platform::GetTickCount() - start >= WRITE_STALL_LIMIT_MS) return WRITE_STALLED;
    }
}

WriteOutcome timedChunkedWrite(PortHandle port, const unsigned char* bytes, uint32_t total)
{
    LentWord count;
    lendCount(&count);
    uint32_t sent = 0;
    VX_BOOL result = VX_TRUE;
    WriteOutcome outcome = WRITE_ALL_WRITTEN;
    while (sent < total && outcome == WRITE_ALL_WRITTEN) {
        uint32_t written = 0;
        outcome = writeChunk(port, count, bytes + sent, total - sent, &result, &written);
        if (outcome == WRITE_ALL_WRITTEN) sent += written;
    }
    noteWrite(result, count, total - sent);
    // The whole guards decide, whatever the calls returned and wherever the
    // library wrote.
    WriteOutcome damage = damageOutcome(count);
    return damage != WRITE_ALL_WRITTEN ? damage : outcome;
}

static const Wanted WANT_PROGRESS = { "count", "bytes accepted within 5000 ms" };
static const Wanted WANT_COUNT_IN_RANGE = { "count, offered", "a count of at most what was offered" };
static_assert(WRITE_STALL_LIMIT_MS == 5000, "the wanted text names the stall limit");

bool checkWriteOutcome(PortHandle port, Check check, WriteOutcome outcome)
{
    switch (outcome) {
    case WRITE_ALL_WRITTEN:
        return true;
    case WRITE_RETURNED_FALSE:
        return closeAndFail(port, check, WANT_SUCCESS, "WritePort returned VX_FALSE\n");
    case WRITE_STALLED:
        return closeAndFail(port, check, WANT_PROGRESS, "WritePort timed out\n");
    case WRITE_COUNT_TOO_LARGE:
        return closeAndFail(
            port, check, WANT_COUNT_IN_RANGE, "WritePort reported more bytes written than it was given\n");
    case WRITE_BEFORE_COUNT:
        return failLent(port, check, "WritePort", LENT_WRITTEN_BEFORE, sizeof(uint32_t), "count");
    case WRITE_PAST_COUNT:
        return failLent(port, check, "WritePort", LENT_WRITTEN_PAST, sizeof(uint32_t), "count");
    }
    // Not reached: every outcome returns above. Nothing passes by falling out.
    return false;
}
