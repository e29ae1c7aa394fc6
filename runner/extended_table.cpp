#include "runner/extended_table.h"
#include "cases/extended/extended.h"

const TestProcedure extendedProcedures[EXTENDED_COUNT] = {
    testLockOtherNames,
    testLockOverTime,
    testLockBesideRefusals,
    testLockAcrossDisconnect,
    testRefusalHandles,
    testRefusalUnreachable,
    testReconnect,
    testResetRestarts,
    testIdleSession,
    testStatusApart,
    testSlipApart,
    testBlocksInARow,
    testReadPieces,
    testWriteOnce,
    testWriteOffline,
};

const char* const extendedNames[EXTENDED_COUNT] = {
    "Lock Under Other Names And Folders",
    "Lock Over Time And Started Programs",
    "Lock Beside Refused Opens",
    "Lock Across A Disconnect",
    "Refused Opens Return Their Handles",
    "Unreachable Printer Not Held",
    "Disconnect And Reconnect",
    "Reset Restarts The Printer",
    "Idle Session",
    "Cover, Paper And Online Key Apart",
    "Slip Sensors Apart",
    "Checked Blocks In A Row",
    "Read In Small Pieces",
    "Write Whole And At Once",
    "Write While Offline",
};
