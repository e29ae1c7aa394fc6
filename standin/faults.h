// The faults this library can be asked to show (fault=NAME[:N] in the
// settings), for testing how the suites cope with a misbehaving library.
#pragma once

#include <stdint.h>

#include <string>

namespace standin {

// Faults this library can be asked to show, for testing how the suite copes
// with a misbehaving library. Each is one entry of faults.cpp's table.
struct Faults {
    uint32_t refuseOpen = 0;
    uint32_t chattyRefusal = 0;
    uint32_t chunk = 0;
    bool countOver = false;
    bool onlineFlag2 = false;
    bool noExclusive = false;
    uint32_t stallStatusMs = 0;
    bool paperOffset = false;
    bool noReconnect = false;
    bool keepLock = false;
    bool acceptNothing = false;
    bool offlineStuck0 = false;
    bool slipZero = false;
    bool ignoreDisconnect = false;
    bool loseTerminator = false;
    bool crashHeld = false;
    uint32_t closeFailsAfter = 0;
    bool onlineKeepsFlag = false;
    bool readKeepsCount = false;
    bool writeKeepsCount = false;
    uint32_t dropAfter = 0;
    bool oldRecordAtLevel1Size = false;
    uint32_t longStatusRecord = 0;
    uint32_t longBlockRecord = 0;
    bool coverLatched = false;
    bool offlineCoverPaperOnly = false;
    bool onlineKeyOnly = false;
    bool slipMinus1 = false;
    bool statusFirstUnset = false;
    bool readFirstUnset = false;
    bool wideCount = false;
    bool wideOnlineFlag = false;
    uint32_t longRead = 0;
    bool recordHeader = false;
    bool removeHeldLock = false;
    bool alwaysHeld = false;
    bool leakHandle = false;
    bool onlineWhileUnplugged = false;
    uint32_t farCountWrite = 0;
    // Faults only devbench-extended's procedures catch (docs/extended.md).
    bool lockBySpelling = false;
    bool lockRelative = false;
    uint32_t lockStaleMs = 0;
    bool lockInherited = false;
    bool lockDroppedUnplugged = false;
    bool refusalResets = false;
    bool badNameClosesAll = false;
    bool secondOpenSharesLock = false;
    bool refusalLeaks = false;
    bool unreachableHeld = false;
    bool replayRefusedWrite = false;
    bool replayReply = false;
    bool cannedStatus = false;
    bool oldStatusStale = false;
    bool resetSilent = false;
    uint32_t idleFailsMs = 0;
    bool paperFromCover = false;
    bool coverPaperFromOffline = false;
    bool slipAnywhere = false;
    bool blockOldLayout = false;
    bool blockCoverOfflineSwapped = false;
    bool endEarly = false;
    bool endGaveUpFresh = false;
    bool beginResets = false;
    bool endFailsAfterFirst = false;
    bool readNulPast = false;
    bool readCountWhole = false;
    bool offlineWriteClaimsAll = false;
    uint32_t writeHeldMs = 0;
    bool partialAsZero = false;
    bool resendStart64k = false;
    bool timeLimitNs32 = false;
    bool resetUnlocks = false;
    uint32_t closeLockLingersMs = 0;
    bool statusStaleUnplugged = false;
    bool replayRefusedReset = false;
    bool onlineStuckAfterLoss = false;
    bool failedCallLeaks = false;
};

// Sets the fault `value` names ("NAME" or "NAME:N"); false, with the reason
// and every fault known, for any other.
bool applyFault(Faults& faults, const std::string& value, std::string* error);

} // namespace standin
