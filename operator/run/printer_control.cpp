#include "operator/run/printer_control.h"

#include <stdlib.h>

#include <algorithm>

#include "wire/control.h"

namespace vpop {

namespace {

// The "jobs=N" line of the printer's state.
bool jobCount(const std::string& text, uint64_t* count)
{
    const std::string key = "jobs=";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.find('\n', start), text.size());
        if (text.compare(start, key.size(), key) == 0) {
            std::string digits = text.substr(start + key.size(), end - start - key.size());
            *count = strtoull(digits.c_str(), nullptr, 10);
            return !digits.empty() && digits.size() <= 19
                && digits.find_first_not_of("0123456789") == std::string::npos;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

bool setPrinter(const std::string& endpoint, const std::vector<std::string>& settings, std::string* error)
{
    return vprinterSet(endpoint, settings, error);
}

bool readNewJobs(const std::string& endpoint, uint64_t* seen, std::vector<PaperJob>* jobs, std::string* error)
{
    std::string text;
    if (!wire::vprinterGetText(endpoint, &text, error)) return false;
    uint64_t count = 0;
    if (!jobCount(text, &count)) {
        *error = "the printer does not say how many jobs it took";
        return false;
    }
    if (count < *seen) {
        *error = "the printer took " + std::to_string(count) + " jobs, fewer than before (restarted?)";
        return false;
    }
    jobs->clear();
    for (const wire::JobSummary& job : wire::jobsFromText(text)) {
        if (job.number > *seen) jobs->push_back({ job.number, job.size, job.sha256 });
    }
    // Past a count or a total size the printer forgets its oldest jobs.
    if (jobs->size() != count - *seen) {
        *error = "the printer no longer holds every job since job " + std::to_string(*seen);
        return false;
    }
    *seen = count;
    return true;
}

bool jobsSoFar(const std::string& endpoint, uint64_t* count, std::string* error)
{
    std::string text;
    if (!wire::vprinterGetText(endpoint, &text, error)) return false;
    if (jobCount(text, count)) return true;
    *error = "the printer does not say how many jobs it took";
    return false;
}

} // namespace vpop
