// The status checks that more than one group of tests makes: what a record
// must show in the states the technician is asked for, the ESC K write and
// the online query. Each takes the source line of the test's own step, so a
// failure line points into the test that failed.
#pragma once

#include <stdint.h>

#include "portlib/KelmorPort.h"
#include "runner/harness.h"

// Holds a level-1 or an old record lent with its guards; the record is
// lentPart(area).
typedef unsigned char RecordArea[guardedSize(VX_STATUS_LEVEL1_SIZE)];

// Any word but 0 is offline, the guard's pattern of an unwritten one too.
inline bool reportsOffline(const unsigned char* record) { return statusWord(record, VX_OFFSET_OFFLINE) != 0; }

// True when offline and coverOpen are both exactly 1.
bool offlineWithCoverOpen(const unsigned char* record);

// True when the record shows what "offline (cover open + no paper)" demands.
bool coverAndPaperOut(const unsigned char* record, uint32_t paperEmptyOffset);

// After a step's own checks of a record where the printer was made online,
// which has its cover shut and paper in: coverOpen and paperEmpty must be 0.
bool expectCoverShutPaperIn(PortHandle port, const unsigned char* record, uint32_t paperEmptyOffset, unsigned line);

// ESC K 1 0, written once after the printer is put back online; its count is
// not examined. False, with the port closed and the line printed, on failure.
bool writeEscK(PortHandle port, unsigned line);

// One GetOnlineStatus into a lent flag: false, with the port closed and the
// line printed, when the library wrote outside the flag.
bool askOnlineStatus(PortHandle port, unsigned line, VX_BOOL* result, VX_BOOL* online);

// GetOnlineStatus must succeed with the flag exactly `expected`.
bool expectOnlineFlag(PortHandle port, VX_BOOL expected, unsigned line);

// A level-1 parsed status where the printer was made offline by whatever
// means: the offline word must be exactly 1.
bool expectRecordOffline(PortHandle port, unsigned line);
