#include "operator/records.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "operator/file_digest.h"
#include "operator/host.h"

namespace vpop {

namespace {

const unsigned testReadNumber = 6;

std::string number(double value)
{
    char text[32];
    snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string optionalString(const std::optional<std::string>& text) { return text ? jsonString(*text) : "null"; }

std::string stringList(const std::vector<std::string>& items, const std::string& indent)
{
    if (items.empty()) return "[]";
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i)
        out += indent + "  " + jsonString(items[i]) + (i + 1 < items.size() ? ",\n" : "\n");
    return out + indent + "]";
}

std::string jsonLibrary(const LibraryFile& library)
{
    std::string out = "{ \"path\": " + jsonString(library.path);
    out += ", \"size\": " + (library.read ? std::to_string(library.size) : std::string("null"));
    out += ", \"sha256\": " + (library.read ? jsonString(library.sha256) : std::string("null"));
#if defined(_WIN32)
    out += ", \"file_version\": "
        + (library.fileVersion.empty() ? std::string("null") : jsonString(library.fileVersion));
#endif
    return out + " }";
}

std::string jsonPaper(const std::optional<std::vector<PaperJob>>& paper, const std::string& indent)
{
    if (!paper) return "null";
    if (paper->empty()) return "[]";
    std::string out = "[\n";
    for (size_t i = 0; i < paper->size(); ++i) {
        const PaperJob& job = (*paper)[i];
        out += indent + "  { \"number\": " + std::to_string(job.number) + ", \"size\": " + std::to_string(job.size)
            + ", \"sha256\": " + jsonString(job.sha256) + " }" + (i + 1 < paper->size() ? ",\n" : "\n");
    }
    return out + indent + "]";
}

std::string jsonTest(const RecordedTest& test, bool matrix)
{
    const TestRecord& result = test.result;
    std::string out = "    {\n";
    out += "      \"number\": " + std::to_string(result.number) + ",\n";
    out += "      \"name\": " + jsonString(suiteTests()[result.number].name) + ",\n";
    out += "      \"verdict\": " + jsonString(verdictWord(result)) + ",\n";
    if (matrix) {
        out += "      \"fault\": " + (test.fault.empty() ? std::string("null") : jsonString(test.fault)) + ",\n";
        out += "      \"expected_failure\": "
            + (test.expectedFailure.empty() ? std::string("null") : jsonString(test.expectedFailure)) + ",\n";
    }
    out += "      \"failure_lines\": " + stringList(result.failures, "      ") + ",\n";
    out += "      \"operator_findings\": " + stringList(result.findings, "      ") + ",\n";
    out += "      \"paper_checked\": " + std::string(result.paperChecked ? "true" : "false") + ",\n";
    out += "      \"paper_jobs\": " + jsonPaper(result.paper, "      ") + ",\n";
    out += "      \"seconds\": " + number(result.seconds()) + ",\n";
    out += "      \"console\": " + jsonString(result.console) + "\n";
    return out + "    }";
}

std::string jsonFaults(const std::vector<FaultResult>& faults)
{
    std::string out = "[\n";
    for (size_t i = 0; i < faults.size(); ++i) {
        const FaultResult& fault = faults[i];
        out += "    { \"fault\": " + jsonString(fault.fault) + ", \"expected_test\": "
            + std::to_string(fault.expectedTest) + ", \"caught\": " + (fault.caught ? "true" : "false")
            + ", \"note\": " + jsonString(fault.note) + " }" + (i + 1 < faults.size() ? ",\n" : "\n");
    }
    return out + "  ]";
}

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

} // namespace

std::optional<std::string> printerFirmware(const RunRecord& record)
{
    for (const RecordedTest& test : record.tests) {
        if (test.result.number != testReadNumber) continue;
        if (std::optional<std::string> name = firmwareName(test.result.console)) return name;
    }
    return std::nullopt;
}

std::string libraryPath(const std::string& devbench, const std::string& fallbackDirectory)
{
    std::vector<std::string> directories;
    std::string search = librarySearchPath();
    size_t start = 0;
    while (!search.empty() && start <= search.size()) {
        size_t end = std::min(search.find(':', start), search.size());
        // An empty entry is the current directory, and devbench runs in the
        // fallback one.
        std::string entry = search.substr(start, end - start);
        directories.push_back(entry.empty() ? fallbackDirectory : entry);
        start = end + 1;
    }
    directories.push_back(directoryOf(devbench));
    directories.push_back(fallbackDirectory);
    for (const std::string& directory : directories) {
        std::string path = joinPath(directory, libraryFileName);
        if (fileExists(path)) return absolutePath(path);
    }
    return joinPath(directoryOf(devbench), libraryFileName);
}

LibraryFile inspectLibrary(const std::string& path)
{
    LibraryFile library;
    library.path = path;
    FileDigest digest;
    std::string error;
    if (!digestFile(path, &digest, &error)) {
        fprintf(stderr, "vpoperator: the record will name no library hash: %s\n", error.c_str());
        return library;
    }
    library.read = true;
    library.size = digest.size;
    library.sha256 = digest.sha256;
    library.fileVersion = fileVersion(path);
    return library;
}

void addRun(RunRecord& record, const RunOutcome& outcome, const std::vector<MenuChoice>& plan)
{
    if (record.portName.empty()) record.portName = outcome.portName;
    if (record.brokeOff.empty()) record.brokeOff = outcome.broken;
    record.seconds += outcome.seconds;
    record.strayFailures.insert(record.strayFailures.end(), outcome.strayFailures.begin(), outcome.strayFailures.end());
    std::vector<TestRecord> results = outcome.records;
    if (results.empty()) {
        for (const MenuChoice& choice : plan) {
            for (unsigned test : choice.tests) {
                results.emplace_back();
                results.back().number = test;
            }
        }
    }
    for (const TestRecord& result : results) {
        RecordedTest test;
        test.result = result;
        if (!result.finished) test.brokeOff = outcome.broken.empty() ? "devbench did not run it" : outcome.broken;
        record.tests.push_back(test);
    }
}

void addFaultRun(RunRecord& record, const RunOutcome& outcome, const FaultCase& fault, const Judgement& judgement)
{
    size_t first = record.tests.size();
    RunRecord run;
    addRun(run, outcome, {});
    record.seconds += run.seconds;
    record.strayFailures.insert(record.strayFailures.end(), run.strayFailures.begin(), run.strayFailures.end());
    if (record.brokeOff.empty() && !run.brokeOff.empty())
        record.brokeOff = std::string(fault.fault) + ": " + run.brokeOff;
    record.tests.insert(record.tests.end(), run.tests.begin(), run.tests.end());
    for (size_t i = first; i < record.tests.size(); ++i) {
        RecordedTest& test = record.tests[i];
        test.fault = fault.fault;
        if (test.result.number != fault.expectedTest) continue;
        test.expectedFailure = fault.expectedLine;
        test.expectedSeen = printsExpectedFailure(fault, test.result);
    }
    record.faults.push_back({ std::string(fault.fault), fault.expectedTest, judgement.caught, judgement.note });
}

std::string jsonRecord(const RunRecord& record)
{
    unsigned passed = 0;
    for (const RecordedTest& test : record.tests) passed += test.result.passed() ? 1 : 0;
    std::string out = "{\n";
    out += "  \"started\": " + jsonString(record.started) + ",\n";
    out += "  \"finished\": " + jsonString(record.finished) + ",\n";
    out += "  \"host\": " + jsonString(record.host) + ",\n";
    out += "  \"port_name\": " + jsonString(record.portName) + ",\n";
    out += "  \"port_settings\": " + jsonString(record.portSettings) + ",\n";
    out += "  \"mode\": " + jsonString(record.mode) + ",\n";
    out += "  \"library\": " + jsonLibrary(record.library) + ",\n";
    out += "  \"printer_firmware\": " + optionalString(printerFirmware(record)) + ",\n";
    out += "  \"devbench\": " + jsonString(record.devbench) + ",\n";
    out += "  \"tests\": [";
    for (size_t i = 0; i < record.tests.size(); ++i)
        out += (i == 0 ? "\n" : ",\n") + jsonTest(record.tests[i], record.matrix);
    out += record.tests.empty() ? "],\n" : "\n  ],\n";
    out += "  \"passed\": " + std::to_string(passed) + ",\n";
    out += "  \"failed\": " + std::to_string(record.tests.size() - passed) + ",\n";
    if (record.matrix) out += "  \"faults\": " + jsonFaults(record.faults) + ",\n";
    out += "  \"failure_lines_outside_tests\": " + stringList(record.strayFailures, "  ") + ",\n";
    out += "  \"broke_off\": " + (record.brokeOff.empty() ? std::string("null") : jsonString(record.brokeOff)) + "\n";
    return out + "}\n";
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
