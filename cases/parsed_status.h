// The parts of the parsed-status tests that the checked-block tests reuse:
// the record checks and the ESC K write. None of them prints a failure line:
// each test prints its own, from its own source.
#pragma once

#include <stdint.h>

#include "portlib/KelmorPort.h"

inline bool reportsOffline(const unsigned char* record) { return statusWord(record, VX_OFFSET_OFFLINE) != 0; }

// True when offline and coverOpen are both exactly 1.
bool offlineWithCoverOpen(const unsigned char* record);

// True when the record shows what "offline (cover open + no paper)" demands.
bool coverAndPaperOut(const unsigned char* record, uint32_t paperEmptyOffset);

// ESC K 1 0, written once after the printer is put back online.
VX_BOOL writeEscK(PortHandle port);
