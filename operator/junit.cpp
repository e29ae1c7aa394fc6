// The JUnit report: one testsuite, one testcase per test, as CI servers read it.
#include <stdio.h>

#include "operator/paper_check.h"
#include "operator/records.h"

namespace vpop {

namespace {

std::string attribute(const std::string& name, std::string_view value)
{
    return " " + name + "=\"" + xmlEscaped(value, true) + "\"";
}

std::string seconds(double value)
{
    char text[32];
    snprintf(text, sizeof text, "%.3f", value < 0 ? 0 : value);
    return text;
}

std::string lines(const std::vector<std::string>& failures)
{
    std::string text;
    for (const std::string& line : failures) text += line + "\n";
    return xmlEscaped(text, false);
}

// A fault-matrix testcase passes when the test did what the catalogue
// expects of it: print the fault's failure line, or pass.
bool failsAsExpected(const RecordedTest& test) { return !test.expectedFailure.empty(); }

std::string outcome(const RecordedTest& test, unsigned* failures, unsigned* errors)
{
    const TestRecord& result = test.result;
    // The operator's findings come after devbench's own lines, and stand
    // alone when devbench saw nothing wrong.
    std::vector<std::string> said = result.failures;
    said.insert(said.end(), result.findings.begin(), result.findings.end());
    if (failsAsExpected(test)) {
        if (test.expectedSeen) return "";
        ++*failures;
        bool byOperator = test.expectedFailure.compare(0, findingPrefix.size(), findingPrefix) == 0;
        std::string message = std::string("the fault was not caught: no ") + (byOperator ? "finding" : "line ending")
            + " \"" + test.expectedFailure + "\"";
        return "    <failure" + attribute("message", message) + attribute("type", "not caught") + ">" + lines(said)
            + "</failure>\n";
    }
    std::string_view verdict = verdictWord(result);
    if (verdict == "pass") return "";
    if (verdict == "fail") {
        ++*failures;
        return "    <failure" + attribute("message", said.front())
            + attribute("type", result.failures.empty() ? "operator finding" : "failure line") + ">" + lines(said)
            + "</failure>\n";
    }
    ++*errors;
    return "    <error" + attribute("message", test.brokeOff) + attribute("type", "broke off") + "/>\n";
}

std::string testcase(const RecordedTest& test, unsigned* failures, unsigned* errors)
{
    const TestRecord& result = test.result;
    std::string name = std::to_string(result.number) + " " + std::string(suiteTests()[result.number].name);
    if (!test.fault.empty()) name += " (fault " + test.fault + ")";
    std::string out = "  <testcase" + attribute("name", name) + attribute("classname", "devbench")
        + attribute("time", seconds(result.seconds())) + ">\n";
    out += outcome(test, failures, errors);
    if (!result.console.empty()) out += "    <system-out>" + xmlEscaped(result.console, false) + "</system-out>\n";
    return out + "  </testcase>\n";
}

// What went wrong around the tests fails the run, so CI must see it too.
std::string aroundTests(const RunRecord& record, unsigned* failures, unsigned* errors)
{
    bool brokeOffInTest = false;
    for (const RecordedTest& test : record.tests) brokeOffInTest |= !test.brokeOff.empty();
    std::string out;
    if (!record.strayFailures.empty()) {
        ++*failures;
        out += "    <failure" + attribute("message", record.strayFailures.front())
            + attribute("type", "failure line outside any test") + ">" + lines(record.strayFailures) + "</failure>\n";
    }
    if (!record.brokeOff.empty() && !brokeOffInTest) {
        ++*errors;
        out += "    <error" + attribute("message", record.brokeOff) + attribute("type", "broke off") + "/>\n";
    }
    if (out.empty()) return "";
    return "  <testcase" + attribute("name", "devbench run") + attribute("classname", "devbench")
        + attribute("time", "0") + ">\n" + out + "  </testcase>\n";
}

std::string properties(const RunRecord& record)
{
    auto property = [](const std::string& name, std::string_view value) {
        return "    <property" + attribute("name", name) + attribute("value", value) + "/>\n";
    };
    std::string out = "  <properties>\n";
    out += property("mode", record.mode);
    out += property("port_name", record.portName);
    out += property("port_settings", record.portSettings);
    out += property("library", record.library.path);
    if (record.library.read) out += property("library_sha256", record.library.sha256);
    if (!record.library.fileVersion.empty()) out += property("library_file_version", record.library.fileVersion);
    if (std::optional<std::string> firmware = printerFirmware(record)) out += property("printer_firmware", *firmware);
    out += property("devbench", record.devbench);
    if (!record.brokeOff.empty()) out += property("broke_off", record.brokeOff);
    for (const std::string& line : record.strayFailures) out += property("failure_line_outside_tests", line);
    return out + "  </properties>\n";
}

} // namespace

std::string junitReport(const RunRecord& record)
{
    unsigned failures = 0;
    unsigned errors = 0;
    std::string cases;
    for (const RecordedTest& test : record.tests) cases += testcase(test, &failures, &errors);
    std::string around = aroundTests(record, &failures, &errors);
    cases += around;
    // JUnit's timestamp has no zone; it is UTC like the JSON record's.
    std::string timestamp = record.started.substr(0, record.started.find('Z'));
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite" + attribute("name", "devbench")
        + attribute("tests", std::to_string(record.tests.size() + (around.empty() ? 0 : 1)))
        + attribute("failures", std::to_string(failures)) + attribute("errors", std::to_string(errors))
        + attribute("skipped", "0") + attribute("time", seconds(record.seconds)) + attribute("timestamp", timestamp)
        + attribute("hostname", record.host) + ">\n";
    out += properties(record);
    out += cases;
    return out + "</testsuite>\n";
}

} // namespace vpop
