// The paper: what the printer took, split into jobs, and each job read the
// way the printer prints it. Pure, like the device model: bytes in, jobs out.
//
// A job is every byte the printer takes between two boundaries: a port
// session opening, a checked block beginning or ending, a reset. A payload
// sent in a session or a checked block of its own is therefore one job of its
// own size and digest; a boundary with nothing taken since makes no job.
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
    mutable Sha256 digest_;
    mutable size_t digested_ = 0;
};

class Paper {
public:
    void take(const uint8_t* bytes, size_t size);
    // The next byte taken starts a new job.
    void endJob() { open_ = false; }

    // The jobs still held, oldest first: the oldest are forgotten past a
    // count or a total of kept bytes, so a long run cannot grow it for ever.
    const std::deque<Job>& jobs() const { return jobs_; }
    const Job* job(uint64_t number) const;
    // Every job so far, the forgotten ones too.
    uint64_t jobCount() const { return count_; }

private:
    std::deque<Job> jobs_;
    bool open_ = false;
    uint64_t count_ = 0;
    size_t keptBytes_ = 0;
};

// "jobs=N\n", then "job.K=SIZE SHA256\n" for each job held, oldest first.
std::string describeJobs(const Paper& paper);

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
