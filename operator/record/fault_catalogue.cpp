#include "operator/record/fault_catalogue.h"

#include <algorithm>

#include "operator/record/paper_check.h"
#include "operator/record/verdict.h"

namespace vpop {

namespace {

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
    { "online-keeps-flag", "fault=online-keeps-flag", {}, { 11, 10 }, 11,
        "GetOnlineStatus returned VX_TRUE without setting onlineStatus" },
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
    // A put-in flag is any word but 0, a taken-out one exactly 0.
    { "slip-minus-1", "fault=slip-minus-1", {}, { 15, 12 }, 15, "status.slipBOF == VX_TRUE" },
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
        "199 more handles held after 200 OpenPortA/ClosePort pairs than after the first, 1.00 kept by each session" },
    // Unplugged, only a flag of 1 claims the printer.
    { "online-while-unplugged", "fault=online-while-unplugged", {}, { 11, 10 }, 11,
        "GetOnlineStatus did not fail as expected" },
    // Past the words next to the count, which are compared after each call:
    // the whole guards, compared once per write, see it.
    { "far-count-write:16", "fault=far-count-write:16", {}, { 3, 10 }, 3, "WritePort wrote past the 4-byte count" },
};

} // namespace

const std::vector<FaultCase>& faultCatalogue()
{
    static const std::vector<FaultCase> both = [] {
        std::vector<FaultCase> all = extendedFaults();
        all.insert(all.end(), catalogue.begin(), catalogue.end());
        return all;
    }();
    return both;
}

bool printsExpectedFailure(const FaultCase& fault, const TestRecord& record)
{
    return showsExpected(fault.expectedLine, record);
}

ProfileTests faultTests(const FaultCase& fault)
{
    if (fault.suite == Suite::Extended) return { {}, fault.tests, fault.personPace };
    return { fault.tests, {}, fault.personPace };
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

} // namespace vpop
