#include "operator/record_files.h"

#include <errno.h>
#include <string.h>

#include <utility>

#include "operator/host.h"
#include "operator/json_record.h"
#include "operator/junit.h"

namespace vpop {

bool writeFile(FILE*& file, const std::string& path, const std::string& text, std::string* error)
{
    bool wrote = fwrite(text.data(), 1, text.size(), file) == text.size();
    int writeErrno = errno;
    bool closed = fclose(file) == 0;
    file = nullptr;
    if (wrote && closed) return true;
    *error = "cannot write " + path + ": " + strerror(wrote ? errno : writeErrno);
    return false;
}

RecordFiles::RecordFiles(std::string jsonPath, std::string junitPath)
    : jsonPath_(std::move(jsonPath))
    , junitPath_(std::move(junitPath))
{
}

RecordFiles::~RecordFiles()
{
    if (json_ != nullptr) fclose(json_);
    if (junit_ != nullptr) fclose(junit_);
}

bool RecordFiles::open(std::string* error)
{
    if (!jsonPath_.empty() && jsonPath_ == junitPath_) {
        *error = "--record and --junit name the same file";
        return false;
    }
    for (auto [path, file] : { std::pair { &jsonPath_, &json_ }, std::pair { &junitPath_, &junit_ } }) {
        if (path->empty()) continue;
        *file = openFile(*path, "wb");
        if (*file == nullptr) {
            *error = "cannot write " + *path + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

bool RecordFiles::write(const RunRecord& record, std::string* error)
{
    bool ok = true;
    std::string why;
    error->clear();
    if (json_ != nullptr && !writeFile(json_, jsonPath_, jsonRecord(record), &why)) {
        ok = false;
        *error = why;
    }
    if (junit_ != nullptr && !writeFile(junit_, junitPath_, junitReport(record), &why)) {
        ok = false;
        *error += (error->empty() ? "" : "; ") + why;
    }
    return ok;
}

} // namespace vpop
