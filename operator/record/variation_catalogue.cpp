#include "operator/record/variation_catalogue.h"

#include "operator/record/suite.h"

namespace vpop {

namespace {

// The words the contract leaves to a library's maker, which several
// variations rest on.
constexpr std::string_view IMPLEMENTERS_CHOICE = "\"The library's inner working, the meaning of the settings text and "
                                                 "the time limit, every record word not listed, every other value not "
                                                 "given here ... are the implementer's choice.\"";
constexpr std::string_view UNPLUGGED_FLAG
    = "\"While the printer is disconnected, ... GetOnlineStatus ... [is] expected to fail; ... GetOnlineStatus may "
      "instead succeed with a flag other than VX_TRUE.\"";
constexpr std::string_view UNREAD_WORDS = "\"every record word not listed\" is \"the implementer's choice\"; \"on "
                                          "success the library sets the count and fills every word the suite reads\"";

// A table, not a function's body: only variationCatalogue reads it.
const std::vector<VariationCase> catalogue = {
    // The longest run comes first, so the parallel matrix is not left
    // waiting for it at the end: Test Open Port's 100 opens take 40 s.
    { "open-delay:400", "variation=open-delay:400", {},
        "OpenPortA takes 400 ms longer, as one that looks the port up among the system's devices first",
        "\"OpenPortA | port name, port settings, time limit (5000; 2000 in one test) | a handle, or null on "
        "failure\": 400 ms is well inside either limit" },
    // Then the next longest: five disconnect steps of 5 s each.
    { "unplugged-retry", "variation=unplugged-retry", {},
        "a call the unplugged printer does not answer is tried again every 100 ms until the time limit is spent, "
        "and only then fails",
        "\"While the printer is disconnected, WritePort, ReadPort, ResetDevice, GetOnlineStatus, GetParsedStatusEx "
        "and BeginCheckedBlockEx are expected to fail\"; how long a call tries first is its \"inner working\", "
        "\"the implementer's choice\", within the open's \"time limit (5000 ...)\"" },
    { "online-unknown", "variation=online-unknown", {},
        "GetOnlineStatus succeeds with the flag -1 (\"unknown\") while the printer is unplugged", UNPLUGGED_FLAG },
    { "online-unknown-2", "variation=online-unknown-2", {},
        "GetOnlineStatus succeeds with the flag 2 (its own \"unknown\") while the printer is unplugged",
        UNPLUGGED_FLAG },
    { "online-offline-unplugged", "variation=online-offline-unplugged", {},
        "GetOnlineStatus succeeds with the flag 0 (offline) while the printer is unplugged", UNPLUGGED_FLAG },
    { "unplugged-count-0", "variation=unplugged-count-0", {},
        "WritePort and ReadPort succeed with a count of 0 while the printer is unplugged",
        "\"While the printer is disconnected, WritePort, ReadPort ... are expected to fail; a write or read may "
        "instead succeed with a count of 0\"" },
    { "status-delay:150", "variation=status-delay:150", {},
        "GetOnlineStatus, GetParsedStatus(Ex), BeginCheckedBlockEx and EndCheckedBlockEx each take 150 ms longer",
        "the contract gives a call no time of its own: how long one takes is its \"inner working\", \"the "
        "implementer's choice\" (devbench gives a session's first status query 200 ms)" },
    { "write-limit:1000", "variation=write-limit:1000", {},
        "WritePort takes at most 1,000 bytes a call, the size of its link's frames, and says so in its count",
        "WritePort: \"VX_FALSE on failure; else count 0 to size (0 = nothing accepted yet)\"" },
    { "read-limit:1", "variation=read-limit:1", {},
        "ReadPort hands out a reply a byte at a time; the rest waits for the next call",
        "ReadPort: \"VX_FALSE on failure; else count 0 to size (0 = nothing arrived)\"" },
    { "unread-words-kept", "variation=unread-words-kept", {},
        "records: only the words the contract names are written; every other word keeps what the caller's "
        "buffer held",
        UNREAD_WORDS },
    { "unread-words-filled", "variation=unread-words-filled", {},
        "records: every word the contract does not name holds 0xCDCDCDCD, as a debug build's unset memory does",
        UNREAD_WORDS },
    { "slip-sensor-bits", "variation=slip-sensor-bits", {},
        "the slip and validation words hold the sensor's bit of the status byte (TOF 2, COF 4, BOF 8, validation "
        "0x20) when paper is there, 0 when not",
        "\"Flags ... are compared with 1 and 0 exactly ... (some checks ask for equality with 1, others for "
        "inequality with 0)\"; at the hybrid steps \"a flag fails a put-in check only when it equals 0 and a "
        "take-out check only when it equals 1\"" },
    { "process-log", "variation=process-log", {},
        "a log file opened at the first OpenPortA and held for the process's life", IMPLEMENTERS_CHOICE },
    { "trace-close-delay:20", "variation=trace-close-delay:20", {},
        "a trace file per session, closed by a writer thread 20 ms after ClosePort",
        "ClosePort \"releases the port for an immediate reopen\"; what else the library keeps and when it lets go "
        "is its \"inner working\", \"the implementer's choice\"" },
    { "success-minus-1", "variation=success-minus-1", {},
        "every call but OpenPortA returns -1 for success, as VARIANT_BOOL's true is",
        "\"the suite tests each result against VX_FALSE only; any other value counts as success\"" },
    { "held-wouldblock", "variation=held-wouldblock", {},
        "a port held by another process is refused with EWOULDBLOCK, flock's own answer, not EBUSY (Windows' last "
        "error is still 183)",
        "\"after a refused open the thread's last-error code is 183 when another process holds the port\": POSIX "
        "has no such code, and devbench reads errno, where EBUSY and EWOULDBLOCK both say the port is held" },
    { "stale-error", "variation=stale-error", {},
        "successful calls leave the held code (EBUSY, Windows' 183) as the last error, as CreateMutex does when it "
        "opens one that exists",
        "the code is relied on only \"after a refused open\"" },
    { "time-limit-seconds", "variation=time-limit-seconds", {},
        "the time limit is read as seconds, not milliseconds: every call waits for the printer that much longer",
        IMPLEMENTERS_CHOICE },
    { "handle-is-address", "variation=handle-is-address", {},
        "the handle is the address of the library's own port object: a closed port's value comes back for the "
        "next open, and on 64-bit it is a full 64-bit address",
        "\"Port handle: the opaque, pointer-sized value that OpenPortA returns; null means the open failed.\"" },
    { "stdout-banner", "variation=stdout-banner", {},
        "a line on standard output at the first OpenPortA of the process (\"KelmorPort: stand-in library "
        "loaded\"), as vendors' libraries print",
        IMPLEMENTERS_CHOICE },
    { "stderr-notes", "variation=stderr-notes", {},
        "a note on standard error about each call, a line ended only at every fourth note", IMPLEMENTERS_CHOICE },
    { "read-fills-buffer", "variation=read-fills-buffer", {},
        "ReadPort copies its whole packet buffer into the caller's, zeros after the reply, and counts only the "
        "reply",
        "ReadPort: \"handle, buffer, size (100), out count read\" and \"count 0 to size\": the buffer is lent "
        "whole, the count says how much of it is the reply" },
    { "failed-calls-fill", "variation=failed-calls-fill", {},
        "a call that fails still hands out what it knew: WritePort the bytes its queue took, ReadPort the count it "
        "asked for, GetOnlineStatus and the record calls the last status it had",
        "\"VX_FALSE on failure\" is all a failed call promises; \"on success the library sets the count and fills "
        "every word the suite reads\"" },
    // A technician's pace through the procedures whose verdict rests on
    // timing: the printer at its own speed over a 40,000 byte/s link, each
    // prompt and question answered 2 s late.
    { "person-pace", "", {},
        "a healthy library at a person's pace: the printer prints at its own speed over a slow link, and each "
        "prompt and question is answered 2 s late",
        "\"OpenPortA | port name, port settings, time limit (5000; 2000 in one test)\": every call waits for the "
        "printer within that limit, however slowly it prints",
        true },
};

} // namespace

const std::vector<VariationCase>& variationCatalogue() { return catalogue; }

ProfileTests variationTests(const VariationCase& variation)
{
    // Checked Blocks In A Row and Write Whole And At Once: an End that must
    // wait for the job, a link slower than one call.
    if (variation.personPace) return { {}, { 11, 13 }, true };
    std::vector<unsigned> extended;
    for (unsigned test = 0; test < extendedTestCount; ++test) extended.push_back(test);
    return { variationTests(), extended, false };
}

std::vector<unsigned> variationTests()
{
    std::vector<unsigned> tests;
    for (unsigned test = 0; test < suiteTestCount; ++test) tests.push_back(test);
    return tests;
}

} // namespace vpop
