#include "standin/faults.h"

#include "standin/named_entry.h"

namespace standin {

namespace {

using FaultEntry = NamedEntry<Faults>;

const FaultEntry FAULTS[] = {
    // The Nth OpenPortA of this process that carries this fault is refused.
    { "refuse-open", true, [](Faults& f, uint32_t n) { f.refuseOpen = n; } },
    // The first OpenPortA of this process that carries this fault prints N
    // bytes on standard output without ending the line, and is refused: the
    // suite's failure line lands far into one long line.
    { "chatty-refusal", true, [](Faults& f, uint32_t n) { f.chattyRefusal = n; } },
    // WritePort sends at most N bytes a call.
    { "chunk", true, [](Faults& f, uint32_t n) { f.chunk = n; } },
    // WritePort claims one byte more than it was given.
    { "count-over", false, [](Faults& f, uint32_t) { f.countOver = true; } },
    // Online is reported as 2 instead of 1.
    { "online-flag-2", false, [](Faults& f, uint32_t) { f.onlineFlag2 = true; } },
    // The port is not locked: a second opener is let in.
    { "no-exclusive", false, [](Faults& f, uint32_t) { f.noExclusive = true; } },
    // GetParsedStatus(Ex) take N ms longer.
    { "stall-status", true, [](Faults& f, uint32_t n) { f.stallStatusMs = n; } },
    // paperEmpty lands at the other record layout's offset.
    { "paper-offset", false, [](Faults& f, uint32_t) { f.paperOffset = true; } },
    // A session lost once is never opened again.
    { "no-reconnect", false, [](Faults& f, uint32_t) { f.noReconnect = true; } },
    // ClosePort keeps the port locked until the process ends.
    { "keep-lock", false, [](Faults& f, uint32_t) { f.keepLock = true; } },
    // WritePort succeeds without taking a byte, for ever.
    { "accept-nothing", false, [](Faults& f, uint32_t) { f.acceptNothing = true; } },
    // The records' offline word stays 0 whatever the printer says.
    { "offline-stuck-0", false, [](Faults& f, uint32_t) { f.offlineStuck0 = true; } },
    // The records' slip sensor words (TOF, COF, BOF) stay 0.
    { "slip-zero", false, [](Faults& f, uint32_t) { f.slipZero = true; } },
    // ResetDevice reports success while the printer is unreachable.
    { "ignore-disconnect", false, [](Faults& f, uint32_t) { f.ignoreDisconnect = true; } },
    // ReadPort drops zero bytes, the firmware reply's terminator among them.
    { "lose-terminator", false, [](Faults& f, uint32_t) { f.loseTerminator = true; } },
    // Opening a port that another process holds aborts this process.
    { "crash-held", false, [](Faults& f, uint32_t) { f.crashHeld = true; } },
    // ClosePort reports failure once N bytes or more went through the port.
    { "close-fails-after", true, [](Faults& f, uint32_t n) { f.closeFailsAfter = n; } },
    // While the printer is unreachable these report success without setting
    // their flag or count.
    { "online-keeps-flag", false, [](Faults& f, uint32_t) { f.onlineKeepsFlag = true; } },
    { "read-keeps-count", false, [](Faults& f, uint32_t) { f.readKeepsCount = true; } },
    { "write-keeps-count", false, [](Faults& f, uint32_t) { f.writeKeepsCount = true; } },
    // WritePort sends only the first N bytes of a call, as a fixed buffer
    // would, yet reports all of them written.
    { "drop-after", true, [](Faults& f, uint32_t n) { f.dropAfter = n; } },
    // Records written past the size the caller provides, as a library built
    // against another header would: GetParsedStatus fills 176 bytes of the
    // 144-byte old record; GetParsedStatusEx, or Begin and End, write N bytes
    // past the level-1 record.
    { "old-record-l1", false, [](Faults& f, uint32_t) { f.oldRecordAtLevel1Size = true; } },
    { "long-record", true, [](Faults& f, uint32_t n) { f.longStatusRecord = n; } },
    { "long-block-record", true, [](Faults& f, uint32_t n) { f.longBlockRecord = n; } },
    // The records' coverOpen word, once 1, stays 1 until the port is closed,
    // as an event latched and never cleared.
    { "cover-latched", false, [](Faults& f, uint32_t) { f.coverLatched = true; } },
    // The records' offline word is worked out from coverOpen and paperEmpty,
    // blind to the Online key and a latched error.
    { "offline-cover-paper-only", false, [](Faults& f, uint32_t) { f.offlineCoverPaperOnly = true; } },
    // GetOnlineStatus looks at the Online key only: a printer offline with
    // its cover open or its paper out reads online.
    { "online-key-only", false, [](Faults& f, uint32_t) { f.onlineKeyOnly = true; } },
    // The records' slip and validation words read -1, whatever the sensors say.
    { "slip-minus-1", false, [](Faults& f, uint32_t) { f.slipMinus1 = true; } },
    // The first record call of a port (GetParsedStatus(Ex), Begin or End)
    // succeeds before the library has a status, leaving the record as it was.
    { "status-first-unset", false, [](Faults& f, uint32_t) { f.statusFirstUnset = true; } },
    // The first ReadPort of a port succeeds before the library has read
    // anything, leaving the count as it was.
    { "read-first-unset", false, [](Faults& f, uint32_t) { f.readFirstUnset = true; } },
    // Written by a library built with 64-bit counts or booleans: WritePort and
    // ReadPort write 8-byte counts, GetOnlineStatus an 8-byte flag.
    { "wide-count", false, [](Faults& f, uint32_t) { f.wideCount = true; } },
    { "wide-online-flag", false, [](Faults& f, uint32_t) { f.wideOnlineFlag = true; } },
    // ReadPort writes N bytes past the buffer it was given, as a library that
    // copies whole packets would.
    { "long-read", true, [](Faults& f, uint32_t n) { f.longRead = n; } },
    // GetParsedStatusEx writes a 4-byte size word in front of the record.
    { "record-header", false, [](Faults& f, uint32_t) { f.recordHeader = true; } },
    // Refusing a held port, the library takes the holder's lock file for a
    // stale one and removes it, so the next opener gets the port. (POSIX: a
    // Windows lock is an object no other process can remove.)
    { "remove-held-lock", false, [](Faults& f, uint32_t) { f.removeHeldLock = true; } },
    // Every refused open says the port is held (EBUSY, Windows' 183), whatever
    // the reason.
    { "always-held", false, [](Faults& f, uint32_t) { f.alwaysHeld = true; } },
    // ClosePort forgets the connection's handle: it stays open until the
    // process ends.
    { "leak-handle", false, [](Faults& f, uint32_t) { f.leakHandle = true; } },
    // GetOnlineStatus succeeds with the flag 1 while the printer is
    // unreachable, as a library that answers from its last known state would.
    { "online-while-unplugged", false, [](Faults& f, uint32_t) { f.onlineWhileUnplugged = true; } },
    // WritePort also writes a zero word N bytes past the end of its count,
    // as a library that fills a wider structure of its own would.
    { "far-count-write", true, [](Faults& f, uint32_t n) { f.farCountWrite = n; } },
    // The lock: named by how the port is spelled; a file in the current
    // folder; taken for stale after N ms and taken over; inherited by the
    // programs its holder starts; let go when the printer is unplugged and
    // never taken again; a refusal that resets the printer under the holder;
    // a refused bad name that closes every handle of the process; a second
    // open in the process let in on the first one's lock, which its close
    // lets go.
    { "lock-by-spelling", false, [](Faults& f, uint32_t) { f.lockBySpelling = true; } },
    { "lock-relative", false, [](Faults& f, uint32_t) { f.lockRelative = true; } },
    { "lock-stale", true, [](Faults& f, uint32_t n) { f.lockStaleMs = n; } },
    { "lock-inherited", false, [](Faults& f, uint32_t) { f.lockInherited = true; } },
    { "lock-dropped-unplugged", false, [](Faults& f, uint32_t) { f.lockDroppedUnplugged = true; } },
    { "refusal-resets", false, [](Faults& f, uint32_t) { f.refusalResets = true; } },
    { "bad-name-closes-all", false, [](Faults& f, uint32_t) { f.badNameClosesAll = true; } },
    { "second-open-shares-lock", false, [](Faults& f, uint32_t) { f.secondOpenSharesLock = true; } },
    // Refusals: each keeps a descriptor; an unreachable printer is "held".
    { "refusal-leaks", false, [](Faults& f, uint32_t) { f.refusalLeaks = true; } },
    { "unreachable-held", false, [](Faults& f, uint32_t) { f.unreachableHeld = true; } },
    // Reconnect: a write refused while unplugged sent after the reconnect;
    // the last reply read handed out again; after one failed call a canned
    // offline, cover open, no paper record; the old record answered from
    // the last one while unplugged.
    { "replay-refused-write", false, [](Faults& f, uint32_t) { f.replayRefusedWrite = true; } },
    { "replay-reply", false, [](Faults& f, uint32_t) { f.replayReply = true; } },
    { "canned-status", false, [](Faults& f, uint32_t) { f.cannedStatus = true; } },
    { "old-status-stale", false, [](Faults& f, uint32_t) { f.oldStatusStale = true; } },
    // Reset and idle: ResetDevice sends nothing; the first call after N ms
    // without one fails.
    { "reset-silent", false, [](Faults& f, uint32_t) { f.resetSilent = true; } },
    { "idle-fails", true, [](Faults& f, uint32_t n) { f.idleFailsMs = n; } },
    // Status words: paperEmpty copied from coverOpen; both from offline;
    // each slip word set for paper anywhere in the slip; Begin and End
    // records in the old layout, or with coverOpen and offline swapped.
    { "paper-from-cover", false, [](Faults& f, uint32_t) { f.paperFromCover = true; } },
    { "cover-paper-from-offline", false, [](Faults& f, uint32_t) { f.coverPaperFromOffline = true; } },
    { "slip-anywhere", false, [](Faults& f, uint32_t) { f.slipAnywhere = true; } },
    { "block-old-layout", false, [](Faults& f, uint32_t) { f.blockOldLayout = true; } },
    { "block-cover-offline-swapped", false, [](Faults& f, uint32_t) { f.blockCoverOfflineSwapped = true; } },
    // Checked blocks: End returns at once with a fresh status; End the
    // printer gave up on reports success with a fresh status; Begin resets
    // the printer; End fails every block after a handle's first.
    { "end-early", false, [](Faults& f, uint32_t) { f.endEarly = true; } },
    { "end-gave-up-fresh", false, [](Faults& f, uint32_t) { f.endGaveUpFresh = true; } },
    { "begin-resets", false, [](Faults& f, uint32_t) { f.beginResets = true; } },
    { "end-fails-after-first", false, [](Faults& f, uint32_t) { f.endFailsAfterFirst = true; } },
    // Reads and writes: a NUL after the bytes read (past the buffer when
    // they fill it); a count of the whole buffer; a write refused while
    // offline reported whole; a write held N ms in the library; a partial
    // write reported as 0; past 64 KiB in one call the buffer's start sent
    // again; the time limit in nanoseconds in 32 bits.
    { "read-nul-past", false, [](Faults& f, uint32_t) { f.readNulPast = true; } },
    { "read-count-whole", false, [](Faults& f, uint32_t) { f.readCountWhole = true; } },
    { "offline-write-claims-all", false, [](Faults& f, uint32_t) { f.offlineWriteClaimsAll = true; } },
    { "write-held", true, [](Faults& f, uint32_t n) { f.writeHeldMs = n; } },
    { "partial-as-zero", false, [](Faults& f, uint32_t) { f.partialAsZero = true; } },
    { "resend-start-64k", false, [](Faults& f, uint32_t) { f.resendStart64k = true; } },
    { "time-limit-ns32", false, [](Faults& f, uint32_t) { f.timeLimitNs32 = true; } },
    // The lock over the session's life: ResetDevice reopens the port without
    // its lock; a session that wrote lets the lock go N ms after ClosePort,
    // once its writer thread has drained.
    { "reset-unlocks", false, [](Faults& f, uint32_t) { f.resetUnlocks = true; } },
    { "close-lock-lingers", true, [](Faults& f, uint32_t n) { f.closeLockLingersMs = n; } },
    // Asked again while unplugged: GetParsedStatusEx answers its second and
    // later failures from the last record; a ResetDevice refused while
    // unplugged is sent after the reconnect; GetOnlineStatus keeps the flag it
    // had before a failed call.
    { "status-stale-unplugged", false, [](Faults& f, uint32_t) { f.statusStaleUnplugged = true; } },
    { "replay-refused-reset", false, [](Faults& f, uint32_t) { f.replayRefusedReset = true; } },
    { "online-stuck-after-loss", false, [](Faults& f, uint32_t) { f.onlineStuckAfterLoss = true; } },
    // A socket kept by each call of an open session that fails (unplugged).
    { "failed-call-leaks", false, [](Faults& f, uint32_t) { f.failedCallLeaks = true; } },
};

} // namespace

bool applyFault(Faults& faults, const std::string& value, std::string* error)
{
    return applyNamed(FAULTS, "fault", faults, value, error);
}

} // namespace standin
