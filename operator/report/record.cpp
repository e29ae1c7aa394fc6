// Reading a record takes a whole JSON parser, which the record code (a
// writer only) does not have; Debian's nlohmann-json is well kept, header
// only (so MinGW takes it too), and says where a broken file stops making
// sense, which is what a technician needs to hear about a record cut short.
#include "operator/report/record.h"

#include <errno.h>
#include <string.h>

#include <nlohmann/json.hpp>

#include "operator/platform/host.h"
#include "operator/record/records.h"
#include "operator/record/text_escape.h"

namespace vpop::signoff {

namespace {

using Json = nlohmann::json;

// Far above a run of every test with its console; a file this big is no record.
const size_t MAX_RECORD_BYTES = 64u << 20;

// Reads fields of one object, keeping the first thing that is wrong.
class Fields {
public:
    Fields(const Json& object, std::string where, std::string* error)
        : object_(object)
        , where_(std::move(where))
        , error_(error)
    {
    }

    bool ok() const { return error_->empty(); }

    const Json* field(const char* name, bool required)
    {
        auto found = object_.find(name);
        if (found != object_.end()) return &*found;
        if (required) fail(name, "is missing");
        return nullptr;
    }

    std::string text(const char* name, bool required = true)
    {
        std::optional<std::string> value = optionalText(name, required);
        return value ? *value : std::string();
    }

    std::optional<std::string> optionalText(const char* name, bool required = true)
    {
        const Json* value = field(name, required);
        if (value == nullptr || value->is_null()) return std::nullopt;
        if (!value->is_string()) return fail(name, "is not text"), std::nullopt;
        return value->get<std::string>();
    }

    std::optional<uint64_t> count(const char* name, bool required = true)
    {
        const Json* value = field(name, required);
        if (value == nullptr || value->is_null()) return std::nullopt;
        if (!value->is_number_unsigned()) return fail(name, "is not a count"), std::nullopt;
        return value->get<uint64_t>();
    }

    std::vector<std::string> lines(const char* name)
    {
        std::vector<std::string> out;
        const Json* value = field(name, false);
        if (value == nullptr || value->is_null()) return out;
        if (!value->is_array()) return fail(name, "is not a list"), out;
        for (const Json& line : *value) {
            if (!line.is_string()) return fail(name, "holds something that is not text"), out;
            out.push_back(line.get<std::string>());
        }
        return out;
    }

    void fail(const std::string& name, const std::string& what)
    {
        if (ok()) *error_ = where_ + "\"" + name + "\" " + what;
    }

    const std::string& where() const { return where_; }

private:
    const Json& object_;
    std::string where_;
    std::string* error_;
};

std::optional<LibraryIdentity> library(Fields& fields, const char* name, std::string* error)
{
    const Json* value = fields.field(name, true);
    if (value == nullptr || value->is_null()) return std::nullopt;
    if (!value->is_object()) return fields.fail(name, "is not an object"), std::nullopt;
    Fields inner(*value, fields.where() + name + ": ", error);
    LibraryIdentity identity;
    identity.path = inner.text("path");
    identity.size = inner.count("size");
    identity.sha256 = inner.optionalText("sha256");
    identity.fileVersion = inner.optionalText("file_version", false);
    return identity;
}

std::optional<std::vector<PaperJob>> paperJobs(Fields& fields, std::string* error)
{
    const Json* value = fields.field("paper_jobs", false);
    if (value == nullptr || value->is_null()) return std::nullopt;
    if (!value->is_array()) return fields.fail("paper_jobs", "is not a list"), std::nullopt;
    std::vector<PaperJob> jobs;
    for (const Json& job : *value) {
        if (!job.is_object()) return fields.fail("paper_jobs", "holds something that is not a job"), std::nullopt;
        Fields inner(job, fields.where() + "job " + std::to_string(jobs.size() + 1) + ": ", error);
        PaperJob read;
        read.number = inner.count("number").value_or(0);
        read.size = inner.count("size").value_or(0);
        read.sha256 = inner.text("sha256");
        jobs.push_back(read);
    }
    return jobs;
}

// A test may be not run; a run is never.
bool readVerdict(const std::string& word, bool ofTest, Verdict* verdict)
{
    return verdictOfWord(word, verdict) && (ofTest || *verdict != Verdict::NotRun);
}

RecordedTest test(const Json& object, size_t index, std::string* error)
{
    RecordedTest read;
    Fields fields(object, "test " + std::to_string(index + 1) + " in \"tests\": ", error);
    read.number = static_cast<unsigned>(fields.count("number").value_or(0));
    read.name = fields.text("name");
    std::string verdict = fields.text("verdict");
    if (fields.ok() && !readVerdict(verdict, true, &read.verdict))
        fields.fail("verdict", "is \"" + verdict + "\", not pass, fail, broke off or not run");
    read.fault = fields.optionalText("fault", false);
    read.failureLines = fields.lines("failure_lines");
    read.findings = fields.lines("operator_findings");
    const Json* checked = fields.field("paper_checked", false);
    read.paperChecked = checked != nullptr && checked->is_boolean() && checked->get<bool>();
    read.paperJobs = paperJobs(fields, error);
    const Json* seconds = fields.field("seconds", false);
    if (seconds != nullptr && seconds->is_number()) read.seconds = seconds->get<double>();
    read.console = fields.text("console", false);
    return read;
}

void runFields(const Json& object, RecordedRun* run, std::string* error)
{
    Fields fields(object, "", error);
    std::string verdict = fields.text("verdict");
    if (fields.ok() && !readVerdict(verdict, false, &run->verdict))
        fields.fail("verdict", "is \"" + verdict + "\", not pass, fail or broke off");
    run->started = fields.optionalText("started");
    run->finished = fields.optionalText("finished", false);
    run->host = fields.text("host", false);
    run->portName = fields.text("port_name", false);
    run->portSettings = fields.text("port_settings", false);
    run->mode = fields.text("mode");
    if (std::optional<LibraryIdentity> identity = library(fields, "library", error)) run->library = *identity;
    if (fields.field("probe_library", false) != nullptr) run->probeLibrary = library(fields, "probe_library", error);
    run->callingConvention = fields.optionalText("calling_convention", false);
    run->firmware = fields.optionalText("printer_firmware", false);
    run->devbench = fields.text("devbench", false);
    run->strayFailures = fields.lines("failure_lines_outside_tests");
    run->brokeOff = fields.optionalText("broke_off", false);
    const Json* tests = fields.field("tests", true);
    if (tests != nullptr && !tests->is_array()) fields.fail("tests", "is not a list");
    if (!fields.ok()) return;
    for (const Json& item : *tests) {
        if (!item.is_object()) return fields.fail("tests", "holds something that is not a test");
        run->tests.push_back(test(item, run->tests.size(), error));
        if (!error->empty()) return;
    }
}

// What is wrong with a file that does not parse, in the words a technician
// can act on.
std::string parseProblem(const std::string& text, const nlohmann::json::parse_error& problem)
{
    if (problem.byte >= text.size() && !text.empty())
        return "it is cut short (the JSON ends after " + std::to_string(text.size())
            + " bytes, before it is complete); was the run's record still being written?";
    std::string what = problem.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 1: ..."
    size_t start = what.find("] ");
    return "it is not JSON: " + (start == std::string::npos ? what : what.substr(start + 2));
}

} // namespace

bool parseRecord(const std::string& file, const std::string& text, RecordedRun* run, std::string* error)
{
    *run = RecordedRun();
    run->file = file;
    Json record;
    // A byte that is not UTF-8 cannot come from the record writer; shown as
    // U+FFFD it still reads as text instead of making the record unreadable.
    std::string valid = validUtf8(text);
    try {
        record = Json::parse(valid);
    } catch (const nlohmann::json::parse_error& problem) {
        *error = file + ": " + parseProblem(valid, problem);
        return false;
    }
    if (!record.is_object() || record.find("tests") == record.end()) {
        *error = file + ": it is JSON but not a run record (no \"tests\")";
        return false;
    }
    auto schema = record.find("schema");
    if (schema == record.end() || !schema->is_number_integer() || *schema != knownSchema) {
        std::string version
            = schema == record.end() ? "one from before records had a \"schema\" field" : "schema " + schema->dump();
        *error = file + ": it is a record of another version (" + version + "); this vpoperator reads schema "
            + std::to_string(knownSchema) + ": use the vpoperator that made the record";
        return false;
    }
    std::string problem;
    runFields(record, run, &problem);
    if (!problem.empty()) {
        *error = file + ": it is not a complete run record: " + problem;
        return false;
    }
    return true;
}

bool readRecord(const std::string& path, RecordedRun* run, std::string* error)
{
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    size_t got = 0;
    while (text.size() <= MAX_RECORD_BYTES && (got = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        *error = "cannot read " + path + ": read error";
        return false;
    }
    if (text.size() > MAX_RECORD_BYTES) {
        *error = path + ": it is over " + std::to_string(MAX_RECORD_BYTES >> 20) + " MiB, too large to be a run record";
        return false;
    }
    if (text.empty()) {
        *error = path + ": it is empty; was the run's record ever written?";
        return false;
    }
    return parseRecord(path, text, run, error);
}

} // namespace vpop::signoff
