#include "operator/record/json_record.h"

#include <stdio.h>

#include "operator/record/text_escape.h"
#include "operator/record/verdict.h"

namespace vpop {

namespace {

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
    out += ", \"replaced_during_run\": " + std::string(library.replacedDuringRun ? "true" : "false");
    out += ", \"replaced_note\": " + jsonString(library.replacedNote);
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
    out += "      \"verdict\": " + jsonString(verdictWord(testVerdict(result))) + ",\n";
    if (matrix) {
        out += "      \"fault\": " + (test.fault.empty() ? std::string("null") : jsonString(test.fault)) + ",\n";
        out += "      \"expected_failure\": "
            + (test.expectedFailure.empty() ? std::string("null") : jsonString(test.expectedFailure)) + ",\n";
    }
    out += "      \"failure_lines\": " + stringList(result.failures, "      ") + ",\n";
    out += "      \"failure_lines_dropped\": " + std::to_string(result.failuresDropped) + ",\n";
    out += "      \"operator_findings\": " + stringList(result.findings, "      ") + ",\n";
    out += "      \"paper_checked\": " + std::string(result.paperChecked ? "true" : "false") + ",\n";
    out += "      \"paper_jobs\": " + jsonPaper(result.paper, "      ") + ",\n";
    out += "      \"seconds\": " + number(result.seconds()) + ",\n";
    out += "      \"console\": " + jsonString(result.console) + ",\n";
    out += "      \"console_bytes_dropped\": " + std::to_string(result.consoleDropped) + ",\n";
    out += "      \"stderr\": " + jsonString(result.stderrText) + ",\n";
    out += "      \"stderr_bytes_dropped\": " + std::to_string(result.stderrBytesDropped) + "\n";
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

} // namespace

std::string jsonRecord(const RunRecord& record)
{
    unsigned counts[4] = {};
    for (const RecordedTest& test : record.tests) ++counts[static_cast<int>(testVerdict(test.result))];
    unsigned passed = counts[static_cast<int>(Verdict::Pass)];
    unsigned notRun = counts[static_cast<int>(Verdict::NotRun)];
    std::string out = "{\n";
    out += "  \"schema\": " + std::to_string(recordSchema) + ",\n";
    out += "  \"verdict\": " + jsonString(verdictWord(runVerdict(record).verdict)) + ",\n";
    out += "  \"started\": " + jsonString(record.started) + ",\n";
    out += "  \"finished\": " + jsonString(record.finished) + ",\n";
    out += "  \"host\": " + jsonString(record.host) + ",\n";
    out += "  \"port_name\": " + jsonString(record.portName) + ",\n";
    out += "  \"port_settings\": " + jsonString(record.portSettings) + ",\n";
    out += "  \"mode\": " + jsonString(record.mode) + ",\n";
    out += "  \"library\": " + (record.library ? jsonLibrary(*record.library) : "null") + ",\n";
    out += "  \"probe_library\": " + (record.probeLibrary ? jsonLibrary(*record.probeLibrary) : "null") + ",\n";
    out += "  \"calling_convention\": "
        + (record.callingConvention.empty() ? std::string("null") : jsonString(record.callingConvention)) + ",\n";
    out += "  \"printer_firmware\": " + optionalString(printerFirmware(record)) + ",\n";
    out += "  \"devbench\": " + jsonString(record.devbench) + ",\n";
    out += "  \"tests\": [";
    for (size_t i = 0; i < record.tests.size(); ++i)
        out += (i == 0 ? "\n" : ",\n") + jsonTest(record.tests[i], record.matrix);
    out += record.tests.empty() ? "],\n" : "\n  ],\n";
    out += "  \"passed\": " + std::to_string(passed) + ",\n";
    out += "  \"failed\": " + std::to_string(record.tests.size() - passed - notRun) + ",\n";
    out += "  \"not_run\": " + std::to_string(notRun) + ",\n";
    if (record.matrix) out += "  \"faults\": " + jsonFaults(record.faults) + ",\n";
    out += "  \"failure_lines_outside_tests\": " + stringList(record.strayFailures, "  ") + ",\n";
    out += "  \"failure_lines_outside_tests_dropped\": " + std::to_string(record.strayFailuresDropped) + ",\n";
    out += "  \"broke_off\": " + (record.brokeOff.empty() ? std::string("null") : jsonString(record.brokeOff)) + "\n";
    return out + "}\n";
}

} // namespace vpop
