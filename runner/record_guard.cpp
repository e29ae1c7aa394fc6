#include <string.h>

#include "runner/harness.h"

void prepareRecord(unsigned char* record, uint32_t size)
{
    memset(record, 0, size);
    memset(record + size, RECORD_GUARD_BYTE, RECORD_GUARD_SIZE);
}

bool checkRecordGuard(PortHandle port, unsigned line, const char* call, const unsigned char* record, uint32_t size)
{
    for (uint32_t i = 0; i < RECORD_GUARD_SIZE; ++i) {
        if (record[size + i] != RECORD_GUARD_BYTE)
            return closeAndFail(port, line, "%s wrote past the %u-byte record\n", call, static_cast<unsigned>(size));
    }
    return true;
}
