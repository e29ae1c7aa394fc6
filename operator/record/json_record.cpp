// Written and read on Debian's nlohmann-json: well kept, header only (so
// MinGW takes it too), and it says where a broken file stops making sense,
// which is what a technician needs to hear about a record cut short.
#include "operator/record/json_record.h"

#include <math.h>

#include <nlohmann/json.hpp>

#include "operator/platform/host.h"
#include "operator/record/text_escape.h"
#include "operator/record/verdict.h"

namespace vpop {

namespace {

// Ordered: the fields stay in the order docs/records.md lists them.
using Json = nlohmann::ordered_json;

// Deeper than any record nests (4); checked before parsing, since a parser
// and a JSON value's destructor recurse once per level.
const size_t MAX_DEPTH = 32;
// Far more than a run's tests (a matrix has about a hundred) or a test's
// jobs; a list this long is no record's.
const size_t MAX_ITEMS = 4096;
const double MAX_SECONDS = 1e9;

Json textOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// To the millisecond: the clock's noise below that says nothing.
double milliseconds(double seconds) { return round(seconds * 1000) / 1000; }

Json libraryJson(const LibraryFile& library)
{
    Json out;
    out["path"] = library.path;
    out["size"] = library.read ? Json(library.size) : Json(nullptr);
    out["sha256"] = library.read ? Json(library.sha256) : Json(nullptr);
    out["file_version"] = textOrNull(library.fileVersion);
    out["replaced_during_run"] = library.replacedDuringRun;
    out["replaced_note"] = textOrNull(library.replacedNote);
    return out;
}

Json paperJson(const std::optional<std::vector<PaperJob>>& paper)
{
    if (!paper) return nullptr;
    Json jobs = Json::array();
    for (const PaperJob& job : *paper)
        jobs.push_back({ { "number", job.number }, { "size", job.size }, { "sha256", job.sha256 } });
    return jobs;
}

Json testJson(const RecordedTest& test, bool matrix)
{
    const TestRecord& result = test.result;
    Json out;
    out["number"] = result.number;
    out["suite"] = suiteName(result.suite);
    out["name"] = suiteTest(result.suite, result.number).name;
    out["verdict"] = verdictWord(testVerdict(result));
    if (matrix) {
        out["fault"] = textOrNull(test.fault);
        out["expected_failure"] = textOrNull(test.expectedFailure);
        out["expected_seen"] = test.expectedSeen;
    }
    out["banner_seen"] = result.bannerSeen;
    out["ended_in_order"] = result.finished;
    out["why"] = textOrNull(test.why);
    out["failure_lines"] = result.failures;
    out["failure_lines_dropped"] = result.failuresDropped;
    out["operator_findings"] = result.findings;
    out["paper_checked"] = result.paperChecked;
    out["paper_jobs"] = paperJson(result.paper);
    out["seconds"] = milliseconds(result.seconds());
    out["console"] = result.console;
    out["console_bytes_dropped"] = result.consoleDropped;
    out["stderr"] = result.stderrText;
    out["stderr_bytes_dropped"] = result.stderrBytesDropped;
    return out;
}

Json facts(const RunRecord& record)
{
    Json out;
    out["schema"] = recordSchema;
    out["verdict"] = verdictWord(runVerdict(record).verdict);
    Coverage covered = coverage(record);
    out["partial"] = covered.partial;
    out["tests_run"] = covered.ran;
    out["started"] = record.started;
    out["finished"] = record.finished;
    out["host"] = record.host;
    out["bench"] = record.bench;
    out["port_name"] = record.portName;
    out["port_settings"] = record.portSettings;
    out["mode"] = record.mode;
    out["library"] = record.library ? libraryJson(*record.library) : Json(nullptr);
    out["probe_library"] = record.probeLibrary ? libraryJson(*record.probeLibrary) : Json(nullptr);
    out["calling_convention"] = textOrNull(record.callingConvention);
    std::optional<std::string> firmware = printerFirmware(record);
    out["printer_firmware"] = firmware ? Json(*firmware) : Json(nullptr);
    out["devbench"] = record.devbench;
    return out;
}

} // namespace

std::string jsonRecord(const RunRecord& record)
{
    Json out = facts(record);
    Json tests = Json::array();
    unsigned counts[4] = {};
    for (const RecordedTest& test : record.tests) {
        tests.push_back(testJson(test, record.matrix));
        ++counts[static_cast<int>(testVerdict(test.result))];
    }
    out["tests"] = std::move(tests);
    out["passed"] = counts[static_cast<int>(Verdict::Pass)];
    out["failed"] = counts[static_cast<int>(Verdict::Fail)] + counts[static_cast<int>(Verdict::BrokeOff)];
    out["not_run"] = counts[static_cast<int>(Verdict::NotRun)];
    if (record.matrix) {
        Json faults = Json::array();
        for (const FaultResult& fault : record.faults)
            faults.push_back({ { "fault", fault.fault }, { "expected_test", fault.expectedTest },
                { "caught", fault.caught }, { "note", fault.note }, { "seconds", milliseconds(fault.seconds) } });
        out["faults"] = std::move(faults);
    }
    out["failure_lines_outside_tests"] = record.strayFailures;
    out["failure_lines_outside_tests_dropped"] = record.strayFailuresDropped;
    out["seconds"] = milliseconds(record.seconds);
    out["broke_off"] = textOrNull(record.brokeOff);
    // Bytes a library printed that are not UTF-8 become U+FFFD, so the
    // record stays JSON whatever it printed.
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {

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
    const std::string& where() const { return where_; }

    const Json* field(const char* name, bool required = true)
    {
        auto found = object_.find(name);
        if (found != object_.end()) return &*found;
        if (required) fail(name, "is missing");
        return nullptr;
    }

    // Text, or empty for null.
    std::string text(const char* name, bool required = true)
    {
        const Json* value = field(name, required);
        if (value == nullptr || value->is_null()) return "";
        if (!value->is_string()) return fail(name, "is not text"), "";
        return value->get<std::string>();
    }

    uint64_t count(const char* name, uint64_t limit = UINT64_MAX)
    {
        const Json* value = field(name);
        if (value == nullptr) return 0;
        if (!value->is_number_unsigned()) return fail(name, "is not a count"), 0;
        uint64_t count = value->get<uint64_t>();
        if (count > limit) return fail(name, "is " + std::to_string(count) + ", above " + std::to_string(limit)), 0;
        return count;
    }

    bool flag(const char* name)
    {
        const Json* value = field(name);
        if (value != nullptr && !value->is_boolean()) fail(name, "is not true or false");
        return value != nullptr && value->is_boolean() && value->get<bool>();
    }

    double seconds(const char* name)
    {
        const Json* value = field(name);
        // Past 30 years a time is no run's, and kept to the millisecond it
        // would overflow.
        if (value == nullptr || !value->is_number() || !(fabs(value->get<double>()) <= MAX_SECONDS))
            return fail(name, "is not a time in seconds"), 0;
        return value->get<double>();
    }

    std::vector<std::string> lines(const char* name)
    {
        std::vector<std::string> out;
        const Json* value = field(name);
        if (value == nullptr) return out;
        if (!value->is_array()) return fail(name, "is not a list"), out;
        for (const Json& line : *value) {
            if (!line.is_string()) return fail(name, "holds something that is not text"), out;
            out.push_back(line.get<std::string>());
        }
        return out;
    }

    // The objects of a list, each read by `read` with its own Fields.
    template <typename Read> void objects(const char* name, const char* what, Read read)
    {
        const Json* list = field(name);
        if (list == nullptr) return;
        if (!list->is_array()) return fail(name, "is not a list");
        if (list->size() > MAX_ITEMS) return fail(name, "holds more than " + std::to_string(MAX_ITEMS) + " items");
        size_t index = 0;
        for (const Json& item : *list) {
            if (!ok()) return;
            if (!item.is_object()) return fail(name, std::string("holds something that is not ") + what);
            Fields inner(item, where_ + what + " " + std::to_string(++index) + " in \"" + name + "\": ", error_);
            read(inner);
        }
    }

    void fail(const std::string& name, const std::string& what)
    {
        if (ok()) *error_ = where_ + "\"" + name + "\" " + what;
    }

private:
    const Json& object_;
    std::string where_;
    std::string* error_;
};

std::optional<LibraryFile> readLibrary(Fields& fields, const char* name, std::string* error)
{
    const Json* value = fields.field(name);
    if (value == nullptr || value->is_null()) return std::nullopt;
    if (!value->is_object()) return fields.fail(name, "is not an object"), std::nullopt;
    Fields inner(*value, fields.where() + name + ": ", error);
    LibraryFile library;
    library.path = inner.text("path");
    const Json* size = inner.field("size");
    library.read = size != nullptr && !size->is_null();
    if (library.read) library.size = inner.count("size");
    library.sha256 = inner.text("sha256");
    library.fileVersion = inner.text("file_version");
    library.replacedDuringRun = inner.flag("replaced_during_run");
    library.replacedNote = inner.text("replaced_note");
    return library;
}

std::optional<std::vector<PaperJob>> readPaper(Fields& fields)
{
    const Json* value = fields.field("paper_jobs");
    if (value == nullptr || value->is_null()) return std::nullopt;
    std::vector<PaperJob> jobs;
    fields.objects("paper_jobs", "job", [&](Fields& job) {
        jobs.push_back({ job.count("number"), job.count("size"), job.text("sha256") });
    });
    return jobs;
}

// The verdict the record states, against the one its facts give.
void checkVerdict(Fields& fields, Verdict judged, bool ofTest)
{
    std::string word = fields.text("verdict");
    Verdict stated = Verdict::Fail;
    if (!fields.ok()) return;
    if (!verdictOfWord(word, &stated) || (!ofTest && stated == Verdict::NotRun))
        return fields.fail("verdict",
            "is \"" + word + "\", not " + (ofTest ? "pass, fail, broke off or not run" : "pass, fail or broke off"));
    if (stated != judged)
        fields.fail("verdict",
            "is \"" + word + "\", but what the record holds is judged \"" + std::string(verdictWord(judged))
                + "\"; was it edited?");
}

void readTest(Fields& fields, bool matrix, RecordedTest* test)
{
    TestRecord& result = test->result;
    // Schema 2 records hold devbench's tests only.
    std::string suite = fields.text("suite");
    if (!suite.empty() && !suiteOfName(suite, &result.suite))
        fields.fail("suite", "is \"" + suite + "\", not devbench or devbench-extended");
    unsigned tests = testCount(result.suite);
    result.number = static_cast<unsigned>(fields.count("number", tests - 1));
    if (matrix) {
        test->fault = fields.text("fault");
        test->expectedFailure = fields.text("expected_failure");
        test->expectedSeen = fields.flag("expected_seen");
    }
    result.bannerSeen = fields.flag("banner_seen");
    result.finished = fields.flag("ended_in_order");
    test->why = fields.text("why");
    result.failures = fields.lines("failure_lines");
    result.failuresDropped = fields.count("failure_lines_dropped");
    result.findings = fields.lines("operator_findings");
    result.paperChecked = fields.flag("paper_checked");
    result.paper = readPaper(fields);
    // The monotonic clock of the run means nothing after it; the length does.
    result.ended = fields.seconds("seconds");
    result.console = fields.text("console");
    result.consoleDropped = fields.count("console_bytes_dropped");
    result.stderrText = fields.text("stderr");
    result.stderrBytesDropped = fields.count("stderr_bytes_dropped");
    checkVerdict(fields, testVerdict(result), true);
}

void readFacts(Fields& fields, RunRecord* run, std::string* error)
{
    run->started = fields.text("started");
    run->finished = fields.text("finished");
    run->host = fields.text("host");
    run->bench = fields.text("bench");
    run->portName = fields.text("port_name");
    run->portSettings = fields.text("port_settings");
    run->mode = fields.text("mode");
    run->library = readLibrary(fields, "library", error);
    run->probeLibrary = readLibrary(fields, "probe_library", error);
    run->callingConvention = fields.text("calling_convention");
    run->devbench = fields.text("devbench");
    for (auto [time, text] : { std::pair { "started", &run->started }, std::pair { "finished", &run->finished } }) {
        if (fields.ok() && !recordMoment(*text))
            fields.fail(time, "is \"" + *text + "\", not a UTC time like 2026-12-08T02:06:45Z");
    }
}

void readRun(const Json& object, RunRecord* run, std::string* error)
{
    Fields fields(object, "", error);
    readFacts(fields, run, error);
    run->matrix = fields.field("faults", false) != nullptr;
    fields.objects("tests", "test", [&](Fields& test) {
        run->tests.emplace_back();
        readTest(test, run->matrix, &run->tests.back());
    });
    if (run->matrix) {
        unsigned tests = static_cast<unsigned>(suiteTests().size());
        fields.objects("faults", "fault", [&](Fields& fault) {
            run->faults.push_back({ fault.text("fault"), static_cast<unsigned>(fault.count("expected_test", tests - 1)),
                fault.flag("caught"), fault.text("note"), fault.seconds("seconds") });
        });
    }
    run->strayFailures = fields.lines("failure_lines_outside_tests");
    run->strayFailuresDropped = fields.count("failure_lines_outside_tests_dropped");
    run->seconds = fields.seconds("seconds");
    run->brokeOff = fields.text("broke_off");
    checkVerdict(fields, runVerdict(*run).verdict, false);
}

// How deep the text nests, strings aside; stops counting past `limit`.
size_t nesting(std::string_view text, size_t limit)
{
    size_t depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size() && deepest <= limit; ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

// What is wrong with a file that does not parse, in the words a technician
// can act on.
std::string parseProblem(std::string_view text, const nlohmann::json::exception& problem)
{
    std::string what = problem.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 1: ..."
    size_t start = what.find("] ");
    what = start == std::string::npos ? what : what.substr(start + 2);
    auto parse = dynamic_cast<const nlohmann::json::parse_error*>(&problem);
    if (parse != nullptr && parse->byte > text.size() && !text.empty())
        return "it is cut short (the JSON ends after " + std::to_string(text.size())
            + " bytes, before it is complete); was the run's record still being written?";
    if (parse != nullptr) return "it is not JSON: " + what;
    return "it is not a record this vpoperator can read: " + what;
}

bool readSchema(const Json& record, std::string* error)
{
    if (!record.is_object() || record.find("tests") == record.end())
        return *error = "it is JSON but not a run record (no \"tests\")", false;
    auto schema = record.find("schema");
    if (schema != record.end() && schema->is_number_integer() && *schema >= oldestReadSchema && *schema <= recordSchema)
        return true;
    std::string version = schema == record.end()
        ? "one from before records had a \"schema\" field"
        : "schema " + schema->dump(-1, ' ', false, Json::error_handler_t::replace);
    *error = "it is a record of another version (" + version + "); this vpoperator reads schemas "
        + std::to_string(oldestReadSchema) + " to " + std::to_string(recordSchema)
        + ": use the vpoperator that made the record";
    return false;
}

} // namespace

bool parseRecord(std::string_view text, RunRecord* record, std::string* error)
{
    *record = RunRecord();
    error->clear();
    if (size_t depth = nesting(text, MAX_DEPTH); depth > MAX_DEPTH)
        return *error = "it nests more than " + std::to_string(MAX_DEPTH) + " levels deep, which no record does", false;
    // A byte that is not UTF-8 cannot come from the record writer; shown as
    // U+FFFD it still reads as text instead of making the record unreadable.
    std::string valid = validUtf8(text);
    try {
        Json json = Json::parse(valid);
        if (!readSchema(json, error)) return false;
        std::string problem;
        readRun(json, record, &problem);
        if (problem.empty()) return true;
        *error = "it is not a complete run record: " + problem;
    } catch (const nlohmann::json::exception& problem) {
        *error = parseProblem(valid, problem);
    }
    *record = RunRecord();
    return false;
}

bool readRecord(const std::string& path, RunRecord* record, std::string* error)
{
    std::string text;
    if (!readRegularFile(path, maxRecordBytes, &text, error)) return false;
    if (text.empty()) return *error = path + ": it is empty; was the run's record ever written?", false;
    if (parseRecord(text, record, error)) return true;
    *error = path + ": " + *error;
    return false;
}

} // namespace vpop
