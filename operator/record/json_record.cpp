// Written and read on Debian's nlohmann-json: well kept, header only (so
// MinGW takes it too), and it says where a broken file stops making sense,
// which is what a technician needs to hear about a record cut short.
#include "operator/record/json_record.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "operator/platform/host.h"
#include "operator/record/older_schemas.h"
#include "operator/record/record_bounds.h"
#include "operator/record/text_escape.h"
#include "operator/record/verdict.h"
#include "wire/sha256.h"

namespace vpop {

namespace {

// Ordered: the fields stay in the order docs/records.md lists them.
using Json = nlohmann::ordered_json;

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
    out["identity_note"] = textOrNull(library.identityNote);
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
        out["variation"] = textOrNull(test.variation);
        out["expected_failure"] = textOrNull(test.expectedFailure);
        out["expected_seen"] = test.expectedSeen;
    }
    out["banner_seen"] = result.bannerSeen;
    out["ended_in_order"] = result.finished;
    out["why"] = textOrNull(test.why);
    out["failure_lines"] = result.failures;
    out["failure_lines_dropped"] = result.failuresDropped;
    Json answers = Json::array();
    for (const FailureAnswer& answer : result.answers)
        answers.push_back({ { "check", answer.check }, { "answer", answer.answer } });
    out["failure_answers"] = std::move(answers);
    out["failure_answers_dropped"] = result.answersDropped;
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

Json variationJson(const VariationResult& variation)
{
    return { { "variation", variation.variation }, { "what", variation.what }, { "allowed_by", variation.allowedBy },
        { "passed", variation.passed }, { "note", variation.note }, { "seconds", milliseconds(variation.seconds) } };
}

Json facts(const RunRecord& record)
{
    Json out;
    out["schema"] = recordSchema;
    out["run_id"] = record.runId;
    out["verdict"] = verdictWord(runVerdict(record).verdict);
    Coverage covered = coverage(record);
    out["partial"] = covered.partial;
    out["tests_run"] = covered.ran;
    out["started"] = record.started;
    out["finished"] = record.finished;
    out["host"] = record.host;
    out["bench"] = record.bench;
    out["build"] = textOrNull(record.build);
    out["by"] = textOrNull(record.by);
    out["note"] = textOrNull(record.note);
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
    for (const RecordedTest& test : record.tests) tests.push_back(testJson(test, record.matrix));
    out["tests"] = std::move(tests);
    RecordCounts counts = recordCounts(record);
    out["passed"] = counts.passed;
    out["failed"] = counts.failed;
    out["not_run"] = counts.notRun;
    if (record.matrix) {
        Json faults = Json::array();
        for (const FaultResult& fault : record.faults)
            faults.push_back({ { "fault", fault.fault }, { "expected_test", fault.expectedTest },
                { "expected_suite", suiteName(fault.suite) }, { "caught", fault.caught }, { "note", fault.note },
                { "seconds", milliseconds(fault.seconds) } });
        out["faults"] = std::move(faults);
        Json variations = Json::array();
        for (const VariationResult& variation : record.variations) variations.push_back(variationJson(variation));
        out["variations"] = std::move(variations);
    }
    out["failure_lines_outside_tests"] = record.strayFailures;
    out["failure_lines_outside_tests_dropped"] = record.strayFailuresDropped;
    out["stderr_outside_tests"] = record.strayStderr;
    out["stderr_outside_tests_bytes_dropped"] = record.strayStderrDropped;
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
    Fields(const Json& object, std::string where, std::string* error, int schema)
        : object_(object)
        , where_(std::move(where))
        , error_(error)
        , schema_(schema)
    {
    }

    // A field added in `schema` is missing from an older record, which
    // reads as if it held the field's natural default.
    bool since(int schema) const { return schema_ >= schema; }
    int schema() const { return schema_; }

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

    uint64_t count(const char* name, uint64_t limit = UINT64_MAX, bool required = true)
    {
        const Json* value = field(name, required);
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

    std::vector<std::string> lines(const char* name, bool required = true)
    {
        std::vector<std::string> out;
        const Json* value = field(name, required);
        if (value == nullptr) return out;
        if (!value->is_array()) return fail(name, "is not a list"), out;
        for (const Json& line : *value) {
            if (!line.is_string()) return fail(name, "holds something that is not text"), out;
            out.push_back(line.get<std::string>());
        }
        return out;
    }

    // The objects of a list, each read by `read` with its own Fields.
    template <typename Read> void objects(const char* name, const char* what, Read read, bool required = true)
    {
        const Json* list = field(name, required);
        if (list == nullptr) return;
        if (!list->is_array()) return fail(name, "is not a list");
        size_t index = 0;
        for (const Json& item : *list) {
            if (!ok()) return;
            if (!item.is_object()) return fail(name, std::string("holds something that is not ") + what);
            Fields inner(
                item, where_ + what + " " + std::to_string(++index) + " in \"" + name + "\": ", error_, schema_);
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
    int schema_;
};

std::optional<LibraryFile> readLibrary(Fields& fields, const char* name, std::string* error)
{
    const Json* value = fields.field(name);
    if (value == nullptr || value->is_null()) return std::nullopt;
    if (!value->is_object()) return fields.fail(name, "is not an object"), std::nullopt;
    Fields inner(*value, fields.where() + name + ": ", error, fields.schema());
    LibraryFile library;
    library.path = inner.text("path");
    const Json* size = inner.field("size");
    library.read = size != nullptr && !size->is_null();
    if (library.read) library.size = inner.count("size");
    library.sha256 = inner.text("sha256");
    library.fileVersion = inner.text("file_version");
    library.replacedDuringRun = inner.flag("replaced_during_run");
    library.replacedNote = inner.text("replaced_note");
    library.identityNote = inner.text("identity_note", inner.since(3));
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

// Older records, and a record made before devbench-extended was run, hold
// devbench's tests only: no suite is devbench.
Suite readSuite(Fields& fields, const char* name)
{
    Suite read = Suite::Devbench;
    std::string suite = fields.text(name, false);
    if (!suite.empty() && !suiteOfName(suite, &read))
        fields.fail(name, "is \"" + suite + "\", not devbench or devbench-extended");
    return read;
}

void readTest(Fields& fields, bool matrix, RecordedTest* test)
{
    TestRecord& result = test->result;
    result.suite = readSuite(fields, "suite");
    unsigned tests = testCount(result.suite);
    result.number = static_cast<unsigned>(fields.count("number", tests - 1));
    if (matrix) {
        test->fault = fields.text("fault");
        test->variation = fields.text("variation", fields.since(3));
        test->expectedFailure = fields.text("expected_failure");
        test->expectedSeen = fields.flag("expected_seen");
    }
    result.bannerSeen = fields.flag("banner_seen");
    result.finished = fields.flag("ended_in_order");
    test->why = fields.text("why");
    result.failures = fields.lines("failure_lines");
    result.failuresDropped = fields.count("failure_lines_dropped");
    bool answered = fields.since(3);
    fields.objects(
        "failure_answers", "answer",
        [&](Fields& answer) {
            result.answers.push_back({ answer.text("check"), answer.text("answer") });
        },
        answered);
    result.answersDropped = fields.count("failure_answers_dropped", UINT64_MAX, answered);
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
    run->build = fields.text("build");
    run->by = fields.text("by");
    run->note = fields.text("note");
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

// The judgements the record states against those its facts give.
void checkJudgements(Fields& fields, RunRecord* run)
{
    std::vector<bool> seen;
    for (const RecordedTest& test : run->tests) seen.push_back(test.expectedSeen);
    std::vector<bool> caught;
    for (const FaultResult& fault : run->faults) caught.push_back(fault.caught);
    std::vector<bool> passed;
    for (const VariationResult& variation : run->variations) passed.push_back(variation.passed);
    deriveJudgements(*run);
    auto stated = [](bool value) { return value ? "true" : "false"; };
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i] == run->tests[i].expectedSeen) continue;
        return fields.fail("tests",
            "holds test " + std::to_string(i + 1) + " whose \"expected_seen\" is " + stated(seen[i])
                + ", but its failure lines and findings say " + stated(!seen[i]) + "; was it edited?");
    }
    for (size_t i = 0; i < caught.size(); ++i) {
        if (caught[i] == run->faults[i].caught) continue;
        return fields.fail("faults",
            "holds fault " + std::to_string(i + 1) + " (" + run->faults[i].fault + ") whose \"caught\" is "
                + stated(caught[i]) + ", but its tests say " + stated(!caught[i]) + "; was it edited?");
    }
    for (size_t i = 0; i < passed.size(); ++i) {
        if (passed[i] == run->variations[i].passed) continue;
        return fields.fail("variations",
            "holds control " + std::to_string(i + 1) + " (" + run->variations[i].variation + ") whose \"passed\" is "
                + stated(passed[i]) + ", but its tests say " + stated(!passed[i]) + "; was it edited?");
    }
}

// The counts the record states against its tests.
void checkCounts(Fields& fields, const RunRecord& run)
{
    RecordCounts counts = recordCounts(run);
    Coverage covered = coverage(run);
    for (auto [name, value] :
        { std::pair { "passed", uint64_t(counts.passed) }, std::pair { "failed", uint64_t(counts.failed) },
            std::pair { "not_run", uint64_t(counts.notRun) }, std::pair { "tests_run", uint64_t(covered.ran) } }) {
        // Schema 1 kept no coverage; the reader's own count stands.
        bool kept = fields.since(2) || std::string(name) != "tests_run";
        uint64_t written = kept ? fields.count(name) : value;
        if (fields.ok() && written != value)
            return fields.fail(name,
                "is " + std::to_string(written) + ", but the tests say " + std::to_string(value) + "; was it edited?");
    }
    if (fields.ok() && fields.since(2) && fields.flag("partial") != covered.partial)
        fields.fail("partial", "contradicts how many of the suite's tests ran; was it edited?");
}

void readMatrix(Fields& fields, RunRecord* run)
{
    fields.objects("faults", "fault", [&](Fields& fault) {
        std::string name = fault.text("fault");
        Suite suite = readSuite(fault, "expected_suite");
        unsigned expected = static_cast<unsigned>(fault.count("expected_test", testCount(suite) - 1));
        run->faults.push_back(
            { name, expected, fault.flag("caught"), fault.text("note"), fault.seconds("seconds"), suite });
    });
    // Controls came with schema 3; an older matrix had none.
    fields.objects(
        "variations", "control",
        [&](Fields& variation) {
            run->variations.push_back(
                { variation.text("variation"), variation.text("what"), variation.text("allowed_by"),
                    variation.flag("passed"), variation.text("note"), variation.seconds("seconds") });
        },
        fields.since(3));
}

// `verdictStated`: the earliest records of schema 1 stated no run verdict.
void readRun(const Json& object, int schema, bool verdictStated, RunRecord* run, std::string* error)
{
    Fields fields(object, "", error, schema);
    readFacts(fields, run, error);
    run->matrix = fields.field("faults", false) != nullptr;
    fields.objects("tests", "test", [&](Fields& test) {
        run->tests.emplace_back();
        readTest(test, run->matrix, &run->tests.back());
    });
    if (run->matrix) readMatrix(fields, run);
    run->strayFailures = fields.lines("failure_lines_outside_tests");
    run->strayFailuresDropped = fields.count("failure_lines_outside_tests_dropped");
    run->strayStderr = fields.text("stderr_outside_tests", fields.since(3));
    run->strayStderrDropped = fields.count("stderr_outside_tests_bytes_dropped", UINT64_MAX, fields.since(3));
    run->seconds = fields.seconds("seconds");
    run->brokeOff = fields.text("broke_off");
    if (fields.ok()) checkJudgements(fields, run);
    if (fields.ok()) checkCounts(fields, *run);
    if (verdictStated) checkVerdict(fields, runVerdict(*run).verdict, false);
}

bool readSchema(const Json& record, int* read, std::string* error)
{
    if (!record.is_object() || record.find("tests") == record.end())
        return *error = "it is JSON but not a run record (no \"tests\")", false;
    auto schema = record.find("schema");
    if (schema != record.end() && schema->is_number_integer() && *schema >= oldestRecordSchema
        && *schema <= recordSchema) {
        *read = schema->get<int>();
        return true;
    }
    std::string version = schema == record.end()
        ? "it has no \"schema\" field"
        : "schema " + schema->dump(-1, ' ', false, Json::error_handler_t::replace);
    bool newer = schema != record.end() && schema->is_number() && *schema > recordSchema;
    *error = "it is a record of another version (" + version + "); this vpoperator reads schemas "
        + std::to_string(oldestRecordSchema) + " to " + std::to_string(recordSchema)
        + (newer ? ": read it with a newer vpoperator" : "");
    return false;
}

// An older record's identity: the digest of what it says, whatever its
// layout on disk (spacing, the order of fields), so two copies of one run
// are one run.
std::string contentIdentity(const Json& record)
{
    std::string canonical = nlohmann::json(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return "sha256:" + wire::sha256Hex(reinterpret_cast<const uint8_t*>(canonical.data()), canonical.size());
}

bool readIdentity(const Json& record, int schema, RunRecord* run, std::string* error)
{
    if (schema < 3) return run->runId = contentIdentity(record), true;
    auto id = record.find("run_id");
    if (id != record.end() && id->is_string() && !id->get<std::string>().empty())
        return run->runId = id->get<std::string>(), true;
    *error = id == record.end() ? "\"run_id\" is missing" : "\"run_id\" is not a run's identity";
    return false;
}

} // namespace

namespace {

// The one way in: the bytes are checked against a record's bounds as they
// stream in, and only a record within them is built into values.
bool parseBytes(const ReadBytes& read, RunRecord* record, std::string* error)
{
    *record = RunRecord();
    error->clear();
    std::string valid;
    if (!boundedRecordText(read, &valid, error)) return false;
    try {
        Json json = Json::parse(valid);
        int schema = recordSchema;
        if (!readSchema(json, &schema, error)) return false;
        std::string problem;
        if (readIdentity(json, schema, record, &problem)) {
            bool verdictStated = json.contains("verdict");
            if (schema < recordSchema) upgradeRecord(json, schema);
            readRun(json, schema, verdictStated || schema > 1, record, &problem);
        }
        if (problem.empty()) return true;
        *error = "it is not a complete run record: " + problem;
    } catch (const nlohmann::json::exception& problem) {
        *error = std::string("it is not a record this vpoperator can read: ") + problem.what();
    }
    *record = RunRecord();
    return false;
}

} // namespace

bool parseRecord(std::string_view text, RunRecord* record, std::string* error)
{
    size_t at = 0;
    return parseBytes(
        [&](char* buffer, size_t size) {
            size_t part = std::min(size, text.size() - at);
            std::copy_n(text.data() + at, part, buffer);
            at += part;
            return part;
        },
        record, error);
}

bool readRecord(const std::string& path, RunRecord* record, std::string* error)
{
    FILE* file = openRegularFile(path, maxRecordBytes, error);
    if (file == nullptr) return false;
    size_t total = 0;
    bool parsed = parseBytes(
        [&](char* buffer, size_t size) {
            size_t got = fread(buffer, 1, size, file);
            total += got;
            return got;
        },
        record, error);
    bool readError = ferror(file) != 0;
    fclose(file);
    if (readError) return *error = "cannot read " + path + ": read error", false;
    if (parsed) return true;
    if (total == 0) *error = "it is empty; was the run's record ever written?";
    *error = path + ": " + *error;
    return false;
}

} // namespace vpop
