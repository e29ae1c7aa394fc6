#include "standin/variations.h"

#include "standin/named_entry.h"

namespace standin {

namespace {

// Each entry is a library its maker could ship in good faith; the comment
// says which one.
const NamedEntry<Variations> VARIATIONS[] = {
    // A library that cannot tell an unplugged printer from one that does not
    // answer says "unknown" (-1), or its own code for it (2), or simply
    // "offline" (0), rather than failing the call.
    { "online-unknown", false,
        [](Variations& v, uint32_t) {
            v.unpluggedFlagGiven = true;
            v.unpluggedFlag = -1;
        } },
    { "online-unknown-2", false,
        [](Variations& v, uint32_t) {
            v.unpluggedFlagGiven = true;
            v.unpluggedFlag = 2;
        } },
    { "online-offline-unplugged", false,
        [](Variations& v, uint32_t) {
            v.unpluggedFlagGiven = true;
            v.unpluggedFlag = VX_FALSE;
        } },
    // A buffered link: a write or read while the printer is unreachable moves
    // nothing yet and says so with a count of 0 instead of failing.
    { "unplugged-count-0", false, [](Variations& v, uint32_t) { v.unpluggedCountZero = true; } },
    // A library that rides out a loose cable: a call the printer does not
    // answer is tried again every 100 ms until the time limit is spent, and
    // only then fails.
    { "unplugged-retry", false, [](Variations& v, uint32_t) { v.unpluggedRetry = true; } },
    // Status calls (online, parsed, Begin, End) that go through a slower
    // driver stack and take N ms longer.
    { "status-delay", true, [](Variations& v, uint32_t ms) { v.statusDelayMs = ms; } },
    // A link whose frames hold N bytes: WritePort takes at most that many a
    // call and reports the count it took.
    { "write-limit", true, [](Variations& v, uint32_t n) { v.writeLimit = n; } },
    // A reader that hands out what it has, at most N bytes a call (1: a
    // reply a byte at a time); the rest waits for the next call.
    { "read-limit", true, [](Variations& v, uint32_t n) { v.readLimit = n; } },
    // Records: only the words this build knows are written; every other word
    // keeps what the caller's buffer held. Or every other word holds what a
    // debug build's memory never set holds (0xCDCDCDCD).
    { "unread-words-kept", false, [](Variations& v, uint32_t) { v.unreadWordsKept = true; } },
    { "unread-words-filled", false, [](Variations& v, uint32_t) { v.unreadWordsFilled = true; } },
    // The slip and validation words are the sensor's bit of the status byte
    // (TOF 2, COF 4, BOF 8, validation 0x20) when paper is there, 0 when not.
    { "slip-sensor-bits", false, [](Variations& v, uint32_t) { v.slipSensorBits = true; } },
    // A log file opened at the first OpenPortA and kept for the process's life.
    { "process-log", false, [](Variations& v, uint32_t) { v.processLog = true; } },
    // A trace file per session that a writer thread closes N ms after
    // ClosePort, once it has written what was queued.
    { "trace-close-delay", true, [](Variations& v, uint32_t ms) { v.traceCloseDelayMs = ms; } },
    // An OpenPortA that looks the port up among the system's devices first
    // and takes N ms longer.
    { "open-delay", true, [](Variations& v, uint32_t ms) { v.openDelayMs = ms; } },
    // Success returned as -1, as VARIANT_BOOL's true is.
    { "success-minus-1", false, [](Variations& v, uint32_t) { v.successMinus1 = true; } },
    // A held port refused as flock refuses it, with EWOULDBLOCK rather than
    // EBUSY (Windows' last error stays 183).
    { "held-wouldblock", false, [](Variations& v, uint32_t) { v.heldWouldBlock = true; } },
    // Successful calls leave the held code (EBUSY, Windows' 183) behind, as
    // CreateMutex does when it opens a mutex that already exists.
    { "stale-error", false, [](Variations& v, uint32_t) { v.staleError = true; } },
    // The time limit read as seconds, not milliseconds (up to this library's
    // ten-minute cap): every call waits for the printer that much longer.
    { "time-limit-seconds", false, [](Variations& v, uint32_t) { v.timeLimitInSeconds = true; } },
    // The handle is the address of the library's own port object: a closed
    // port's value comes back for the next, and on 64-bit it is a full
    // 64-bit address.
    { "handle-is-address", false, [](Variations& v, uint32_t) { v.handleIsAddress = true; } },
    // A line on standard output, its name and state, at the first OpenPortA of
    // the process, as vendors' libraries print.
    { "stdout-banner", false, [](Variations& v, uint32_t) { v.stdoutBanner = true; } },
    // Notes on standard error about each call, a line ended only now and then.
    { "stderr-notes", false, [](Variations& v, uint32_t) { v.stderrNotes = true; } },
    // ReadPort copies its whole packet buffer, zeros after the reply, into
    // the caller's buffer, and counts only the reply.
    { "read-fills-buffer", false, [](Variations& v, uint32_t) { v.readFillsBuffer = true; } },
    // A call that fails still hands out what it knew: WritePort the bytes it
    // had taken into its queue, GetOnlineStatus and the record calls the last
    // status it had.
    { "failed-calls-fill", false, [](Variations& v, uint32_t) { v.failedCallsFill = true; } },
};

} // namespace

bool applyVariation(Variations& variations, const std::string& value, std::string* error)
{
    return applyNamed(VARIATIONS, "variation", variations, value, error);
}

} // namespace standin
