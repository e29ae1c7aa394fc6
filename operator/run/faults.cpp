#include "operator/run/faults.h"

#include <algorithm>

#include "operator/record/verdict.h"
#include "operator/run/paper_check.h"

namespace vpop {

namespace {

// The text of a failure line after "failure: line(N) ".
std::string_view failureText(std::string_view line)
{
    size_t close = line.find(") ");
    return close == std::string_view::npos ? line : line.substr(close + 2);
}

// The extended suite's rows.
constexpr Suite X = Suite::Extended;

// Neighbours are cheap tests that use the faulty call too, so a fault that
// breaks more than its own test shows up here. A table, not a function's
// body: only faultCatalogue reads it.
const std::vector<FaultCase> catalogue = {
    // The longest run comes first, so the parallel matrix is not left
    // waiting for it at the end.
    { "trickle-name:1000 (printer)", "", { "--fault", "trickle-name:1000" }, { 6, 7 }, 6,
        "ReadPort did not complete the reply within 20 s of the query" },
    { "refuse-open:37", "fault=refuse-open:37", {}, { 0, 1 }, 0, "OpenPortA return NULL" },
    // Chatter past the operator's cut of a long line, then the refusal.
    { "chatty-refusal:65531", "fault=chatty-refusal:65531", {}, { 0, 1 }, 0, "OpenPortA return NULL" },
    { "no-exclusive", "fault=no-exclusive", {}, { 2, 0 }, 2, "holdprobe did not return EXIT_SUCESS" },
    // The suite takes partial writes in its stride, but not of a 5-byte query.
    { "chunk:4", "fault=chunk:4", {}, { 6, 3 }, 6, "Size Communicated was not equal to 5" },
    { "count-over", "fault=count-over", {}, { 3, 0 }, 3, "WritePort reported more bytes written than it was given" },
    { "stall-status:300", "fault=stall-status:300", {}, { 12, 10 }, 12,
        "GetParsedStatus took toooooooo looooooooooooong" },
    { "online-flag-2", "fault=online-flag-2", {}, { 10, 8 }, 10, "onlineStatus != VX_TRUE" },
    { "paper-offset", "fault=paper-offset", {}, { 12, 10 }, 12, "status.offline != VX_TRUE" },
    { "no-reconnect", "fault=no-reconnect", {}, { 9, 8 }, 9, "ResetDevice returned VX_FALSE" },
    // The port stays locked after the first close, against the same process too.
    { "keep-lock", "fault=keep-lock", {}, { 0, 1 }, 0, "OpenPortA return NULL" },
    { "accept-nothing", "fault=accept-nothing", {}, { 3, 0 }, 3, "WritePort timed out" },
    { "offline-stuck-0", "fault=offline-stuck-0", {}, { 12, 8 }, 12, "status.offline != VX_TRUE" },
    { "slip-zero", "fault=slip-zero", {}, { 15, 12 }, 15, "status.slipBOF == VX_FALSE" },
    { "ignore-disconnect", "fault=ignore-disconnect", {}, { 9, 8 }, 9, "ResetDevice did not fail as expected" },
    // Test Read Disconnect does not look at the reply, so it must not mind.
    { "lose-terminator", "fault=lose-terminator", {}, { 6, 7 }, 6, "ReadPort timed out" },
    { "slow-status:300 (printer)", "", { "--fault", "slow-status:300" }, { 12, 10 }, 12,
        "GetParsedStatus took toooooooo looooooooooooong" },
    // The probe's copy aborts instead of being refused.
    { "crash-held", "fault=crash-held", {}, { 2, 0 }, 2, "holdprobe did not return EXIT_SUCESS" },
    // The raster job is 120,100 bytes; Test Write's 10,240 stay below the limit.
    { "close-fails-after:100000", "fault=close-fails-after:100000", {}, { 20, 3 }, 20, "ClosePort returned VX_FALSE" },
    // Successes that set nothing while the printer is unplugged: the
    // disconnect step sees the previous call's flag or count.
    { "online-keeps-flag", "fault=online-keeps-flag", {}, { 11, 10 }, 11, "GetOnlineStatus did not fail as expected" },
    { "read-keeps-count", "fault=read-keeps-count", {}, { 7, 6 }, 7, "ReadPort did not fail as expected" },
    { "write-keeps-count", "fault=write-keeps-count", {}, { 5, 3 }, 5, "WritePort did not fail as expected" },
    // Test Read Disconnect does not look at the reply, so a name that
    // never ends must not bother it.
    { "endless-name (printer)", "", { "--fault", "endless-name" }, { 6, 7 }, 6,
        "ReadPort returned a firmware name of more than 1000 characters" },
    // Test Read prints this failure on the line "device firmware name: ".
    { "no-firmware-reply (printer)", "", { "--fault", "no-firmware-reply" }, { 6, 3 }, 6, "ReadPort timed out" },
    // devbench is told every byte went out; only the paper shows the loss.
    // Test Read's 5-byte query stays whole, and its paper is checked too.
    { "drop-after:4096", "fault=drop-after:4096", {}, { 3, 6 }, 3, paperDiffers },
    // Records written past their size land in devbench's guard bytes;
    // the record of the neighbour's call stays within its size.
    { "old-record-l1", "fault=old-record-l1", {}, { 13, 12 }, 13, "GetParsedStatus wrote past the 144-byte record" },
    { "long-record:4", "fault=long-record:4", {}, { 12, 13 }, 12, "GetParsedStatusEx wrote past the 176-byte record" },
    { "long-block-record:4", "fault=long-block-record:4", {}, { 16, 12 }, 16,
        "BeginCheckedBlockEx wrote past the 176-byte record" },
    // Each word a prompted state fixes is checked where that state is, and
    // the record and the online query are each asked once where only the
    // other was: the neighbour never looks at the word that is wrong.
    { "cover-latched", "fault=cover-latched", {}, { 12, 14 }, 12, "status.coverOpen != VX_FALSE" },
    { "offline-cover-paper-only", "fault=offline-cover-paper-only", {}, { 10, 12 }, 10, "status.offline != VX_TRUE" },
    { "online-key-only", "fault=online-key-only", {}, { 12, 10 }, 12, "onlineStatus != VX_FALSE" },
    // Flags are exactly 1 or 0.
    { "slip-minus-1", "fault=slip-minus-1", {}, { 15, 12 }, 15, "status.slipBOF == VX_FALSE" },
    { "online-unknown", "fault=online-unknown", {}, { 11, 10 }, 11, "GetOnlineStatus did not fail as expected" },
    // Words left unset hold the guard's pattern, which no check takes.
    { "status-first-unset", "fault=status-first-unset", {}, { 12, 8 }, 12, "offlineStatus != VX_FALSE" },
    { "read-first-unset", "fault=read-first-unset", {}, { 6, 3 }, 6,
        "ReadPort reported more bytes than it was asked for" },
    // Writes outside a count, a flag, the read buffer or before a record
    // land in devbench's guards.
    { "wide-count", "fault=wide-count", {}, { 3, 10 }, 3, "WritePort wrote past the 4-byte count" },
    { "wide-online-flag", "fault=wide-online-flag", {}, { 10, 8 }, 10,
        "GetOnlineStatus wrote past the 4-byte online flag" },
    { "long-read:28", "fault=long-read:28", {}, { 6, 3 }, 6, "ReadPort wrote past the 100-byte buffer" },
    { "record-header", "fault=record-header", {}, { 12, 13 }, 12,
        "GetParsedStatusEx wrote before the 176-byte record" },
    // Refused once, the second copy of the probe gets the port; Test Open
    // Port never meets a held port.
    { "remove-held-lock", "fault=remove-held-lock", {}, { 2, 0 }, 2, "holdprobe did not return EXIT_SUCESS" },
    // The probe's copy is refused with the held code as it should be.
    { "always-held", "fault=always-held", {}, { 1, 2 }, 1,
        "OpenPortA reported the port held (183) when given a bad port name" },
    // One connection left open is nothing to Test Write.
    { "leak-handle", "fault=leak-handle", {}, { 0, 3 }, 0,
        "99 more handles held after 100 OpenPortA/ClosePort pairs than after the first" },
    // devbench-extended's (docs/extended.md): its tests are numbered in its
    // own menu. The slowest first.
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

const std::vector<FaultCase>& faultCatalogue() { return catalogue; }

Judgement judge(const FaultCase& fault, const RunOutcome& outcome)
{
    Judgement judgement;
    if (!outcome.broken.empty()) {
        judgement.note = "run broke off: " + outcome.broken;
        return judgement;
    }
    std::string others;
    bool expectedSeen = false;
    for (const TestRecord& record : outcome.records) {
        if (record.suite != fault.suite || record.number != fault.expectedTest) {
            if (Verdict verdict = testVerdict(record); verdict != Verdict::Pass) {
                others += " " + testLabel(record.suite, record.number) + " " + std::string(verdictWord(verdict));
                for (const std::string& line : record.failures) others += " (" + line + ")";
                for (const std::string& finding : record.findings) others += " (" + finding + ")";
            }
            continue;
        }
        expectedSeen = true;
        if (printsExpectedFailure(fault, record)) {
            judgement.caught = true;
        } else if (!record.failures.empty() || !record.findings.empty()) {
            judgement.note
                = "other failure: " + (record.failures.empty() ? record.findings.front() : record.failures.front());
        } else {
            judgement.note = "test " + testLabel(record.suite, record.number) + " "
                + std::string(verdictWord(testVerdict(record)));
        }
    }
    if (!expectedSeen) judgement.note = "test " + testLabel(fault.suite, fault.expectedTest) + " did not run";
    if (!outcome.strayFailures.empty()) others += " failure outside any test (" + outcome.strayFailures[0] + ")";
    if (!others.empty()) {
        // A fault caught along with unrelated damage is not the clean catch
        // the catalogue promises.
        judgement.caught = false;
        judgement.note += (judgement.note.empty() ? "" : "; ") + std::string("also changed:") + others;
    }
    return judgement;
}

bool printsExpectedFailure(const FaultCase& fault, const TestRecord& record)
{
    if (fault.expectedLine.substr(0, findingPrefix.size()) == findingPrefix) {
        return std::any_of(record.findings.begin(), record.findings.end(),
            [&](const std::string& finding) { return findingHeadline(finding) == fault.expectedLine; });
    }
    return std::any_of(record.failures.begin(), record.failures.end(),
        [&](const std::string& line) { return failureText(line) == fault.expectedLine; });
}

std::vector<unsigned> catalogueTests(Suite suite)
{
    std::vector<unsigned> tests;
    for (const FaultCase& fault : faultCatalogue()) {
        if (fault.suite == suite) tests.insert(tests.end(), fault.tests.begin(), fault.tests.end());
    }
    std::sort(tests.begin(), tests.end());
    tests.erase(std::unique(tests.begin(), tests.end()), tests.end());
    return tests;
}

std::string combinedSettings(const std::string& settings, std::string_view librarySetting)
{
    if (librarySetting.empty()) return settings;
    if (settings.empty()) return std::string(librarySetting);
    return settings + "," + std::string(librarySetting);
}

} // namespace vpop
