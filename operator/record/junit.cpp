// The JUnit report: one testsuite, one testcase per test, as CI servers read it.
#include <stdio.h>

#include "operator/record/junit.h"

#include <algorithm>

#include "operator/record/paper_check.h"
#include "operator/record/text_escape.h"
#include "operator/record/verdict.h"

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

// The bench's name keeps the testcases of several benches apart when CI
// merges their reports; a dot would start a package there.
std::string className(const RunRecord& record)
{
    std::string bench = record.bench;
    std::replace(bench.begin(), bench.end(), '.', '_');
    return bench.empty() ? "devbench" : "devbench." + bench;
}

struct Counts {
    unsigned failures = 0;
    unsigned errors = 0;
    unsigned skipped = 0;
};

std::string outcome(const RecordedTest& test, Counts* counts)
{
    const TestRecord& result = test.result;
    // The operator's findings come after devbench's own lines, and stand
    // alone when devbench saw nothing wrong.
    std::vector<std::string> said = failureLinesWithAnswers(result);
    said.insert(said.end(), result.findings.begin(), result.findings.end());
    // A matrix's test passes when it did what the catalogue expects of it.
    Verdict verdict = judgedVerdict(test);
    if (!test.expectedFailure.empty() && verdict == Verdict::Fail) {
        ++counts->failures;
        bool byOperator = test.expectedFailure.compare(0, findingPrefix.size(), findingPrefix) == 0;
        std::string message = std::string("the fault was not caught: no ") + (byOperator ? "finding" : "line ending")
            + " \"" + test.expectedFailure + "\"";
        return "    <failure" + attribute("message", message) + attribute("type", "not caught") + ">" + lines(said)
            + "</failure>\n";
    }
    // A healthy variation's failure is the suite's fault, not the library's.
    std::string type = !test.variation.empty() ? "false failure"
        : result.failures.empty()              ? "operator finding"
                                               : "failure line";
    switch (verdict) {
    case Verdict::Pass:
        return "";
    case Verdict::Fail:
        ++counts->failures;
        return "    <failure" + attribute("message", said.front()) + attribute("type", type) + ">" + lines(said)
            + "</failure>\n";
    case Verdict::BrokeOff:
        ++counts->errors;
        return "    <error" + attribute("message", test.why) + attribute("type", "broke off") + "/>\n";
    case Verdict::NotRun:
        ++counts->skipped;
        return "    <skipped" + attribute("message", test.why) + "/>\n";
    }
    return "";
}

std::string testcase(const RecordedTest& test, const std::string& classname, Counts* counts)
{
    const TestRecord& result = test.result;
    std::string name = testTitle(result.suite, result.number);
    name += profileText(test);
    std::string out = "  <testcase" + attribute("name", name) + attribute("classname", classname)
        + attribute("time", seconds(result.seconds())) + ">\n";
    out += outcome(test, counts);
    std::string console = result.console;
    if (result.consoleDropped > 0)
        console += "\n(" + std::to_string(result.consoleDropped) + " more bytes of output not kept)\n";
    if (!console.empty()) out += "    <system-out>" + xmlEscaped(console, false) + "</system-out>\n";
    // devbench's answer beside each failure line, then the library's words.
    std::string errors;
    if (!result.answers.empty()) {
        for (const std::string& line : failureLinesWithAnswers(result)) errors += line + "\n";
    }
    errors += result.stderrText;
    if (result.stderrBytesDropped > 0)
        errors += "\n(" + std::to_string(result.stderrBytesDropped) + " more bytes of standard error not kept)\n";
    if (!errors.empty()) out += "    <system-err>" + xmlEscaped(errors, false) + "</system-err>\n";
    return out + "  </testcase>\n";
}

// What went wrong around the tests fails the run too, and CI must never show
// green for a run whose verdict is not a pass.
std::string aroundTests(const RunRecord& record, Counts* counts)
{
    RunVerdict run = runVerdict(record);
    bool testBrokeOff = false;
    for (const RecordedTest& test : record.tests) testBrokeOff |= testVerdict(test.result) == Verdict::BrokeOff;
    std::string out;
    if (!record.strayFailures.empty()) {
        ++counts->failures;
        out += "    <failure" + attribute("message", record.strayFailures.front())
            + attribute("type", "failure line outside any test") + ">" + lines(record.strayFailures) + "</failure>\n";
    }
    if (run.verdict == Verdict::BrokeOff && !testBrokeOff) {
        ++counts->errors;
        out += "    <error" + attribute("message", run.why) + attribute("type", "broke off") + "/>\n";
    } else if (run.verdict != Verdict::Pass && counts->failures + counts->errors == 0) {
        ++counts->failures;
        out += "    <failure" + attribute("message", run.why) + attribute("type", "run failed") + "/>\n";
    }
    if (out.empty()) return "";
    return "  <testcase" + attribute("name", "devbench run") + attribute("classname", className(record))
        + attribute("time", "0") + ">\n" + out + "  </testcase>\n";
}

// A partial run shows the suite's tests it never planned as skipped, so CI
// counts them as not run rather than not there.
std::string notPlanned(const RunRecord& record, Counts* counts, unsigned* added)
{
    if (!coverage(record).partial) return "";
    std::vector<bool> planned(suiteTests().size());
    for (const RecordedTest& test : record.tests) {
        if (test.result.suite == Suite::Devbench) planned[test.result.number] = true;
    }
    std::string out;
    for (unsigned number = 0; number < planned.size(); ++number) {
        if (planned[number]) continue;
        ++*added;
        ++counts->skipped;
        out += "  <testcase" + attribute("name", std::to_string(number) + " " + std::string(suiteTests()[number].name))
            + attribute("classname", className(record)) + attribute("time", "0") + ">\n    <skipped"
            + attribute("message", "not run: not planned in this partial run") + "/>\n  </testcase>\n";
    }
    return out;
}

std::string properties(const RunRecord& record)
{
    auto property = [](const std::string& name, std::string_view value) {
        return "    <property" + attribute("name", name) + attribute("value", value) + "/>\n";
    };
    std::string out = "  <properties>\n";
    out += property("bench", record.bench);
    out += property("run_id", record.runId);
    for (auto [name, label] :
        { std::pair { "build", &record.build }, std::pair { "by", &record.by }, std::pair { "note", &record.note } }) {
        if (!label->empty()) out += property(name, *label);
    }
    out += property("mode", record.mode);
    out += property("port_name", record.portName);
    out += property("port_settings", record.portSettings);
    if (record.library) {
        out += property("library", record.library->path);
        if (record.library->read) out += property("library_sha256", record.library->sha256);
        if (!record.library->fileVersion.empty()) out += property("library_file_version", record.library->fileVersion);
        if (record.library->replacedDuringRun)
            out += property("library_replaced_during_run", record.library->replacedNote);
        if (!record.library->identityNote.empty())
            out += property("library_not_identified", record.library->identityNote);
    }
    if (record.probeLibrary) {
        out += property("probe_library", record.probeLibrary->path);
        if (record.probeLibrary->read) out += property("probe_library_sha256", record.probeLibrary->sha256);
    }
    if (!record.callingConvention.empty()) out += property("calling_convention", record.callingConvention);
    if (std::optional<std::string> firmware = printerFirmware(record)) out += property("printer_firmware", *firmware);
    out += property("devbench", record.devbench);
    out += property("verdict", verdictWord(runVerdict(record).verdict));
    Coverage covered = coverage(record);
    if (covered.partial)
        out += property(
            "partial", std::to_string(covered.ran) + " of the " + std::to_string(covered.suite) + " tests ran");
    if (!record.brokeOff.empty()) out += property("broke_off", record.brokeOff);
    for (const std::string& line : record.strayFailures) out += property("failure_line_outside_tests", line);
    // The matrix's controls, with what each does and the words that allow it.
    for (const VariationResult& variation : record.variations)
        out += property("control " + variation.variation,
            std::string(variationOutcome(variation)) + ": " + variation.what + "; allowed by " + variation.allowedBy
                + (variation.note.empty() ? "" : "; " + variation.note));
    return out + "  </properties>\n";
}

} // namespace

std::string junitReport(const RunRecord& record)
{
    Counts counts;
    std::string cases;
    // devbench-extended's procedures stand in a class of their own.
    for (const RecordedTest& test : record.tests)
        cases += testcase(test,
            className(record) + (test.result.suite == Suite::Extended ? std::string(".extended") : std::string()),
            &counts);
    std::string around = aroundTests(record, &counts);
    cases += around;
    unsigned unplanned = 0;
    cases += notPlanned(record, &counts, &unplanned);
    // JUnit's timestamp has no zone; it is UTC like the JSON record's.
    std::string timestamp = record.started.substr(0, record.started.find('Z'));
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite" + attribute("name", className(record))
        + attribute("tests", std::to_string(record.tests.size() + unplanned + (around.empty() ? 0 : 1)))
        + attribute("failures", std::to_string(counts.failures)) + attribute("errors", std::to_string(counts.errors))
        + attribute("skipped", std::to_string(counts.skipped)) + attribute("time", seconds(record.seconds))
        + attribute("timestamp", timestamp) + attribute("hostname", record.host) + ">\n";
    out += properties(record);
    out += cases;
    std::string stray = strayStderrText(record);
    if (!stray.empty()) out += "  <system-err>" + xmlEscaped(stray, false) + "</system-err>\n";
    return out + "</testsuite>\n";
}

} // namespace vpop
