// The status steps more than one group of tests takes: one query of the
// printer's status into a lent record, by any of the four calls that report
// it, and what the record must show in the states the technician is asked
// for; the ESC K write and the online query. Each takes the test's own Check,
// so a failure line points into the test that failed.
#pragma once

#include <stdint.h>

#include "portlib/KelmorPort.h"
#include "runner/harness.h"

// Holds a level-1 or an old record lent with its guards; the record is
// lentPart(area).
typedef unsigned char RecordArea[guardedSize(VX_STATUS_LEVEL1_SIZE)];

// A library call that reports the printer status into the record it is
// given: named as the guard's failure line names it, its "returned
// VX_FALSE" line, where its record keeps paperEmpty, and whether the answer
// line says how long it took.
struct StatusQuery {
    VX_BOOL (*call)(PortHandle port, unsigned char* record);
    const char* name;
    const char* returnedFalse;
    uint32_t recordSize;
    uint32_t paperEmptyOffset;
    bool timed;
};

extern const StatusQuery LEVEL1_STATUS;
extern const StatusQuery OLD_STATUS;
extern const StatusQuery BEGIN_BLOCK;
extern const StatusQuery END_BLOCK;

// Any word but 0 is offline, the guard's pattern of an unwritten one too.
inline bool reportsOffline(const unsigned char* record) { return statusWord(record, VX_OFFSET_OFFLINE) != 0; }

// True when offline and coverOpen are both exactly 1.
bool offlineWithCoverOpen(const unsigned char* record);

// The call into a freshly lent record, its answer noted (End's time too),
// then its guards: false, with the port closed and the line printed, when the
// library wrote outside the record.
bool askStatus(PortHandle port, const StatusQuery& query, unsigned char* area, Check check, VX_BOOL* result);

// The call must succeed: false, with the port closed and its "returned
// VX_FALSE" line printed, otherwise.
bool queryStatus(PortHandle port, const StatusQuery& query, unsigned char* area, Check check);

// Where the printer was made online: offline 0, the cover shut, paper in.
bool queryOnline(PortHandle port, const StatusQuery& query, unsigned char* area, Check check);

// The first call of a session: as queryOnline, offline reported by
// `offlineText`, and within its time limit.
bool firstQueryInTime(
    PortHandle port, const StatusQuery& query, unsigned char* area, Check check, const char* offlineText);

// Where the printer was made "offline (cover open + no paper)".
bool queryCoverAndPaperOut(PortHandle port, const StatusQuery& query, unsigned char* area, Check check);

// Where the printer was unplugged: the call must fail.
bool queryFails(PortHandle port, const StatusQuery& query, unsigned char* area, Check check);

// A level-1 parsed status where the printer was made offline by whatever
// means: the offline word must be exactly 1.
bool expectRecordOffline(PortHandle port, Check check);

// ESC K 1 0, written once after the printer is put back online; its count is
// not examined. False, with the port closed and the line printed, on failure.
bool writeEscK(PortHandle port, Check check);

// One GetOnlineStatus into a lent flag, its answer noted: false, with the
// port closed and the line printed, when the library wrote outside the flag.
bool askOnlineStatus(PortHandle port, Check check, VX_BOOL* result, uint32_t* online);

// GetOnlineStatus must succeed with the flag exactly `expected`.
bool expectOnlineFlag(PortHandle port, VX_BOOL expected, Check check);
