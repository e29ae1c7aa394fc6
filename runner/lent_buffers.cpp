#include <string.h>

#include "runner/harness.h"

unsigned char* lend(unsigned char* area, uint32_t size)
{
    memset(area, GUARD_BYTE, guardedSize(size));
    return area + GUARD_SIZE;
}

// Every byte equal to the next and the first the pattern: one memcmp, which
// keeps a write of one byte per call as cheap as the call itself.
static bool guardWhole(const unsigned char* guard)
{
    return guard[0] == GUARD_BYTE && memcmp(guard, guard + 1, GUARD_SIZE - 1) == 0;
}

LentDamage lentDamage(const unsigned char* area, uint32_t size)
{
    if (!guardWhole(area)) return LENT_WRITTEN_BEFORE;
    if (!guardWhole(area + GUARD_SIZE + size)) return LENT_WRITTEN_PAST;
    return LENT_WHOLE;
}

static const Wanted WANT_INSIDE = { "", "nothing written outside what it was lent" };

bool failLent(PortHandle port, Check check, const char* call, LentDamage damage, uint32_t size, const char* what)
{
    return closeAndFail(port, check, WANT_INSIDE, "%s wrote %s the %u-byte %s\n", call,
        damage == LENT_WRITTEN_BEFORE ? "before" : "past", static_cast<unsigned>(size), what);
}

bool checkLent(
    PortHandle port, Check check, const char* call, const unsigned char* area, uint32_t size, const char* what)
{
    LentDamage damage = lentDamage(area, size);
    return damage == LENT_WHOLE || failLent(port, check, call, damage, size, what);
}

// The word is read and written through memcpy only: the library sees a
// 32-bit variable, the suite a run of bytes.
uint32_t* lendCount(LentWord* word) { return reinterpret_cast<uint32_t*>(lend(word->area, sizeof(uint32_t))); }

VX_BOOL* lendFlag(LentWord* word) { return reinterpret_cast<VX_BOOL*>(lend(word->area, sizeof(uint32_t))); }

uint32_t lentValue(const LentWord& word)
{
    uint32_t value;
    memcpy(&value, lentPart(word.area), sizeof value);
    return value;
}

bool checkLent(PortHandle port, Check check, const char* call, const LentWord& word, const char* what)
{
    return checkLent(port, check, call, word.area, sizeof(uint32_t), what);
}
