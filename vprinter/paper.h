// The paper: what the printer took, split into jobs, and each job read the
// way the printer prints it. Pure, like the device model: bytes in, jobs out.
//
// A job is every byte the printer takes between two boundaries: a port
// session opening, a checked block beginning or ending, a reset, a mark. A
// payload sent in a session or a checked block of its own is therefore one
// job of its own size and digest; a boundary with nothing taken since makes
// no job.
//
// Between the jobs the paper shows where things began: marks a client asks
// for (where a test begins, say), and port sessions opening and closing.
// Times are the wall clock's, in ms since the epoch.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "wire/sha256.h"

namespace vprinter {

struct Job {
    // 1 for the printer's first job, counting on while it runs.
    uint64_t number = 0;
    // Its place on the paper among jobs and dividers.
    uint64_t order = 0;
    // When its first byte came.
    uint64_t timeMs = 0;
    // Every byte taken.
    uint64_t size = 0;
    // The first bytes, up to what one reply can carry.
    std::vector<uint8_t> bytes;

    // The SHA-256 of every byte taken, as hex.
    std::string sha256() const;

private:
    friend class Paper;
    // Kept bytes are digested when the digest is asked for, not while the
    // printer takes them, so a write costs no more than the copy.
    void digestKept() const;
    mutable wire::Sha256 digest_;
    mutable size_t digested_ = 0;
};

// A line across the paper between jobs.
struct Divider {
    enum Kind { Mark, Sessions };
    Kind kind = Mark;
    uint64_t order = 0;
    uint64_t timeMs = 0;
    // Mark: what it says.
    std::string text;
    // Sessions: those that opened and closed close together with nothing
    // printed between them are one divider, so a test that opens a port a
    // hundred times leaves one line; lastMs is the time of the last.
    uint64_t opened = 0;
    uint64_t closed = 0;
    uint64_t lastMs = 0;
};

// A mark is one line of printable ASCII, at most this long.
const size_t MARK_TEXT_LIMIT = 160;

class Paper {
public:
    void take(const uint8_t* bytes, size_t size, uint64_t timeMs);
    // The next byte taken starts a new job.
    void endJob() { open_ = false; }

    // Ends the job and marks the paper; false, with a reason, for text that
    // is not one line of printable ASCII within MARK_TEXT_LIMIT.
    bool mark(const std::string& text, uint64_t timeMs, std::string* error);
    void sessionOpened(uint64_t timeMs);
    void sessionClosed(uint64_t timeMs);
    // The dividers still held, oldest first, forgotten past a count as jobs are.
    const std::deque<Divider>& dividers() const { return dividers_; }

    // The jobs still held, oldest first: the oldest are forgotten past a
    // count or a total of kept bytes, so a long run cannot grow it for ever.
    const std::deque<Job>& jobs() const { return jobs_; }
    const Job* job(uint64_t number) const;
    // Every job so far, the forgotten ones too.
    uint64_t jobCount() const { return count_; }

private:
    Divider& addDivider(Divider::Kind kind, uint64_t timeMs);
    Divider& sessions(uint64_t timeMs);

    std::deque<Job> jobs_;
    std::deque<Divider> dividers_;
    bool open_ = false;
    uint64_t count_ = 0;
    uint64_t order_ = 0;
    size_t keptBytes_ = 0;
};

// "jobs=N\n", then "job.K=SIZE SHA256\n" for each job held, oldest first.
std::string describeJobs(const Paper& paper);

// The paper in the order it came out, one line per job or divider held:
// "job ORDER NUMBER TIME", "mark ORDER TIME TEXT", or
// "sessions ORDER TIME LAST OPENED CLOSED".
std::string describePaperOrder(const Paper& paper);

// One dot per bit, the first bit leftmost. A row that arrived shorter than
// it declared holds only the bytes that came.
struct RasterRow {
    uint32_t declared = 0;
    std::vector<uint8_t> data;
};

struct RasterImage {
    std::vector<RasterRow> rows;
    // The raster's end command came; an image without it was cut short.
    bool ended = false;
    // Bytes inside the raster that are neither rows nor commands.
    size_t strayBytes = 0;
    uint32_t widthDots() const;
    size_t shortRows() const;
};

struct Printed {
    enum Kind { Text, Raster, Cut, Stamp, Note };
    Kind kind = Note;
    // Text: its lines.
    std::vector<std::string> lines;
    RasterImage raster;
    // Stamp and Note: what they say.
    std::string text;
    // Note: the job broke here (it ended inside a command).
    bool broken = false;
    // Cut, Stamp and Note: how many of them came in a row.
    uint64_t count = 1;
};

// How the printer prints one job's bytes, in order: lines of text (printable
// ASCII; other bytes from 0x80 up print as '?'), raster images, cuts (FF,
// ESC FF), validation stamps (ESC + A n and the line feeds after it), and
// notes for the commands and bytes that print nothing. A browser draws it, so
// however the job is made the view stays small: equal cuts, stamps and notes
// in a row are one with a count, and past PRINTED_PARTS_LIMIT parts or
// PRINTED_LINES_LIMIT lines a last note sums up the rest (broken if a part
// in it is).
const size_t PRINTED_PARTS_LIMIT = 500;
const size_t PRINTED_LINES_LIMIT = 5000;
std::vector<Printed> printJob(const uint8_t* bytes, size_t size);

} // namespace vprinter
