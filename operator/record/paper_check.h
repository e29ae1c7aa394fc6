// The operator's own check of the virtual printer's paper: after a test that
// sends fixed jobs, the printer must hold exactly those jobs, byte for byte.
// devbench cannot see this: a library may report every byte written and
// still lose some on the way.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/record/test_record.h"

namespace vpop {

// The start of every finding, and the headline of a paper that differs.
inline constexpr std::string_view findingPrefix = "operator: ";
inline constexpr std::string_view paperDiffers = "operator: paper digest differs";

// One job a test sends, as the printer must hold it.
struct SentJob {
    std::string_view what;
    uint64_t size = 0;
    std::string sha256;
};

// The jobs a test that passes has sent, in order; null for a test whose jobs
// are not fixed (the printer is offline or unplugged while it sends, and may
// take part) or that sends none.
const std::vector<SentJob>* sentJobs(unsigned test);

// The raster job as devbench sends it, byte for byte.
const std::vector<unsigned char>& rasterJobBytes();

// Findings on the jobs one test left on the paper: none when they are what
// it sent.
std::vector<std::string> comparePaper(unsigned test, const std::vector<PaperJob>& paper);

// Records the jobs of a test that ended in order (none when the paper could
// not be read, `why`), and checks them when devbench passed the test: a test
// that failed stopped sending partway, and its failure line says so already.
void judgePaper(TestRecord& record, std::optional<std::vector<PaperJob>> paper, const std::string& why);

// "operator: paper digest differs" of "operator: paper digest differs: job 4 ...".
std::string_view findingHeadline(std::string_view finding);

} // namespace vpop
