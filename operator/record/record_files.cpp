#include "operator/record/record_files.h"

#include "operator/record/json_record.h"
#include "operator/record/junit.h"

namespace vpop {

RecordFiles::RecordFiles(const std::optional<std::string>& jsonPath, const std::optional<std::string>& junitPath)
{
    if (jsonPath) json_.emplace(*jsonPath);
    if (junitPath) junit_.emplace(*junitPath);
}

bool RecordFiles::open(std::string* error)
{
    // Written one after the other, one file named twice would hold the
    // second record over the first, which neither reader could parse.
    if (json_ && junit_ && !json_->path().empty() && !junit_->path().empty()
        && fileKey(json_->path()) == fileKey(junit_->path())) {
        *error = "--record " + json_->path() + " and --junit " + junit_->path() + " name the same file";
        return false;
    }
    for (std::optional<OutputFile>* file : { &json_, &junit_ }) {
        if (!*file || (*file)->check(error)) continue;
        if ((*file)->path().empty()) *error = (file == &json_ ? "--record: " : "--junit: ") + *error;
        return false;
    }
    return true;
}

bool RecordFiles::write(const RunRecord& record, std::string* error)
{
    bool ok = true;
    std::string why;
    error->clear();
    if (json_ && !json_->write(jsonRecord(record), &why)) {
        ok = false;
        *error = why;
    }
    if (junit_ && !junit_->write(junitReport(record), &why)) {
        ok = false;
        *error += (error->empty() ? "" : "; ") + why;
    }
    return ok;
}

} // namespace vpop
