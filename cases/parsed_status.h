// The parts of the parsed-status tests that the checked-block tests reuse:
// the shape of a status call, the cover-and-paper check, the ESC K write and
// the disconnect sequence.
#pragma once

#include <stdint.h>

#include "portlib/KelmorPort.h"

// A library call that reports the printer status into the record it is given.
typedef VX_BOOL (*StatusQuery)(PortHandle port, unsigned char* record);

inline bool reportsOffline(const unsigned char* record) { return statusWord(record, VX_OFFSET_OFFLINE) != 0; }

// True when the record shows what "offline (cover open + no paper)" demands.
bool coverAndPaperOut(const unsigned char* record, uint32_t paperEmptyOffset);

// ESC K 1 0, written once after the printer is put back online.
VX_BOOL writeEscK(PortHandle port);

// Online, then disconnected (the call must fail), then reconnected with the
// cover open and no paper, on a level-1 record. queryName names the call in
// its "returned VX_FALSE" line.
bool statusDisconnectTest(
    const char* portName, const char* portSettings, const char* banner, StatusQuery query, const char* queryName);
