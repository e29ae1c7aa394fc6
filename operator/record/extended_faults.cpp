#include "operator/record/fault_catalogue.h"

namespace vpop {

namespace {

// devbench-extended's faults (docs/extended.md): their tests are numbered in
// its own menu. The slowest first, so the parallel matrix is not left
// waiting for them at the end.
constexpr Suite X = Suite::Extended;

const std::vector<FaultCase> extended = {
    { "refusal-resets", "fault=refusal-resets", {}, { 2 }, 2,
        "ReadPort did not give the whole firmware reply, 1 bytes a call, within 20 s", X },
    { "idle-fails:8000", "fault=idle-fails:8000", {}, { 8 }, 8, "GetParsedStatusEx returned VX_FALSE", X },
    { "lock-stale:2000", "fault=lock-stale:2000", {}, { 1 }, 1,
        "holdprobe was not refused the port as held (183) after 12 s held", X },
    { "lock-inherited", "fault=lock-inherited", {}, { 1 }, 1,
        "OpenPortA return NULL after ClosePort while a program its holder started ran", X },
    { "lock-by-spelling", "fault=lock-by-spelling", {}, { 0 }, 0,
        "holdprobe was not refused the port as held (183) under another name", X },
    { "lock-relative", "fault=lock-relative", {}, { 0 }, 0,
        "holdprobe was not refused the port as held (183) from another folder", X },
    { "lock-dropped-unplugged", "fault=lock-dropped-unplugged", {}, { 3 }, 3,
        "holdprobe was not refused the port as held (183) after the printer came back", X },
    { "bad-name-closes-all", "fault=bad-name-closes-all", {}, { 2 }, 2, "GetParsedStatusEx returned VX_FALSE", X },
    { "second-open-shares-lock", "fault=second-open-shares-lock", {}, { 2 }, 2,
        "holdprobe was not refused the port as held (183) after a second open came and went", X },
    { "failed-call-leaks", "fault=failed-call-leaks", {}, { 3 }, 3,
        "40 more handles held after 40 calls while unplugged", X },
    { "refusal-leaks", "fault=refusal-leaks", {}, { 4 }, 4, "40 more handles held after 40 refused opens of a bad name",
        X },
    { "unreachable-held", "fault=unreachable-held", {}, { 5 }, 5,
        "OpenPortA reported the port held (183) for a printer that is unplugged", X },
    { "replay-refused-write", "fault=replay-refused-write", {}, { 6 }, 6,
        "the line refused while unplugged came out after the reconnect", X },
    { "replay-reply", "fault=replay-reply", {}, { 6 }, 6, "ReadPort gave the firmware reply again after the reconnect",
        X },
    { "canned-status", "fault=canned-status", {}, { 6 }, 6, "GetParsedStatusEx: coverOpen is 1, not 0", X },
    { "old-status-stale", "fault=old-status-stale", {}, { 6 }, 6,
        "GetParsedStatus reported an unplugged printer online", X },
    { "status-stale-unplugged", "fault=status-stale-unplugged", {}, { 6 }, 6,
        "GetParsedStatusEx reported an unplugged printer online", X },
    { "replay-refused-reset", "fault=replay-refused-reset", {}, { 6 }, 6,
        "ResetDevice refused while unplugged reset the printer after the reconnect", X },
    { "online-stuck-after-loss", "fault=online-stuck-after-loss", {}, { 6 }, 6, "onlineStatus != VX_FALSE", X },
    { "reset-unlocks", "fault=reset-unlocks", {}, { 7 }, 7,
        "holdprobe was not refused the port as held (183) after a reset and a print job", X },
    { "close-lock-lingers:2500", "fault=close-lock-lingers:2500", {}, { 7 }, 7,
        "holdprobe was refused the port as held (183) at once after ClosePort of a session that printed", X },
    { "reset-silent", "fault=reset-silent", {}, { 7 }, 7, "ResetDevice returned VX_TRUE but the printer did not reset",
        X },
    { "paper-from-cover", "fault=paper-from-cover", {}, { 9 }, 9, "GetParsedStatusEx: paperEmpty is 1, not 0", X },
    { "cover-paper-from-offline", "fault=cover-paper-from-offline", {}, { 9 }, 9,
        "GetParsedStatusEx: paperEmpty is 1, not 0", X },
    { "block-old-layout", "fault=block-old-layout", {}, { 9 }, 9, "BeginCheckedBlockEx: paperEmpty is 0, not 1", X },
    { "block-cover-offline-swapped", "fault=block-cover-offline-swapped", {}, { 9 }, 9,
        "BeginCheckedBlockEx: coverOpen is 1, not 0", X },
    { "begin-resets", "fault=begin-resets", {}, { 9 }, 9,
        "the printer reset while only status and Begin were asked for", X },
    { "slip-anywhere", "fault=slip-anywhere", {}, { 10 }, 10, "status.slipCOF is 1, not 0", X },
    { "end-fails-after-first", "fault=end-fails-after-first", {}, { 11 }, 11, "EndCheckedBlock returned VX_FALSE", X },
    { "read-nul-past", "fault=read-nul-past", {}, { 12 }, 12, "ReadPort wrote past the 1-byte buffer", X },
    { "read-count-whole", "fault=read-count-whole", {}, { 12 }, 12,
        "ReadPort counted 82 bytes after the reply that it never wrote", X },
    { "resend-start-64k", "fault=resend-start-64k", {}, { 13 }, 13,
        "the raster job WritePort reported written did not come out whole and once", X },
    { "write-held:8000", "fault=write-held:8000", {}, { 13 }, 13,
        "the raster job WritePort reported written did not come out whole and once", X },
    { "offline-write-claims-all", "fault=offline-write-claims-all", {}, { 14 }, 14,
        "WritePort reported the line written while offline, and it never came out", X },
    // At a printer's own pace: a job that takes seconds, a link slower than one call.
    { "end-early (pace person)", "fault=end-early", {}, { 11 }, 11,
        "EndCheckedBlockEx returned VX_TRUE while the printer was still printing", X, true },
    { "end-gave-up-fresh (pace person)", "fault=end-gave-up-fresh", {}, { 11 }, 11,
        "EndCheckedBlockEx returned VX_TRUE while the printer was still printing", X, true },
    { "time-limit-ns32 (pace person)", "fault=time-limit-ns32", {}, { 11 }, 11, "EndCheckedBlock returned VX_FALSE", X,
        true },
    { "partial-as-zero (pace person)", "fault=partial-as-zero", {}, { 13 }, 13, "WritePort timed out", X, true },
};

} // namespace

const std::vector<FaultCase>& extendedFaults() { return extended; }

} // namespace vpop
