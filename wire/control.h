// Changing and reading a running virtual printer's state from another
// program: what `vprinter set/get` do, for tools that link vprinter_control.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace wire {

// Sends key=value assignments (e.g. "cover=open", "paper=out") to the
// printer at endpoint; they are applied together or not at all. False, with
// a reason in *error (may be null), for an unknown key or value or an
// unreachable printer.
bool vprinterSet(const std::string& endpoint, const std::vector<std::string>& assignments, std::string* error);

// Reads the whole state: every settable key, plus offline, error, bytes,
// last (the last command the printer recognised), jobs (how many so far) and
// job.N for each job the printer still holds.
bool vprinterGet(const std::string& endpoint, std::map<std::string, std::string>* state, std::string* error);

// The same state as "key=value\n" lines, in the printer's own order.
bool vprinterGetText(const std::string& endpoint, std::string* text, std::string* error);

// The "key=value" lines of a `get` text, in its order; other lines are
// passed over.
std::vector<std::pair<std::string, std::string>> settingsFromText(const std::string& text);

// A job on the printer's paper, as `get` lists it: "job.N=SIZE SHA256".
struct JobSummary {
    uint32_t number = 0;
    uint64_t size = 0;
    std::string sha256;
};

// The job lines of a `get` text, oldest first; lines that are not well-formed
// job lines are passed over.
std::vector<JobSummary> jobsFromText(const std::string& text);

// The bytes of job N as the printer kept them (the first MiB of a longer
// job). False when the printer no longer holds it.
bool vprinterJob(const std::string& endpoint, uint32_t number, std::vector<uint8_t>* bytes, std::string* error);

// Marks the printer's paper with one line of printable ASCII (up to 160
// characters), drawn on its page as a divider with the time: where a test
// begins, say. The job before the mark ends there.
bool vprinterMark(const std::string& endpoint, const std::string& text, std::string* error);

// The paper in the order it came out: jobs (by number), marks, and port
// sessions opening and closing (those close together as one entry). Times
// are the wall clock's, in ms since the epoch.
struct PaperEntry {
    enum Kind { Job, Mark, Sessions };
    Kind kind = Job;
    // Its place on the paper; an entry keeps it while it is held.
    uint64_t order = 0;
    uint64_t timeMs = 0;
    uint32_t job = 0;
    std::string text;
    // Sessions: how many opened and closed, and when the last did.
    uint64_t opened = 0;
    uint64_t closed = 0;
    uint64_t lastMs = 0;
};

bool vprinterPaper(const std::string& endpoint, std::vector<PaperEntry>* entries, std::string* error);

// The entries of a PAPER text; lines that are not well-formed are passed over.
std::vector<PaperEntry> paperFromText(const std::string& text);

} // namespace wire

using wire::vprinterGet;
using wire::vprinterSet;
