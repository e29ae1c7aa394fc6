#include "operator/record/older_schemas.h"

#include <string>

namespace vpop {

namespace {

using Json = nlohmann::ordered_json;

void setIfMissing(Json& object, const char* name, const Json& value)
{
    if (object.is_object() && !object.contains(name)) object[name] = value;
}

// Schema 1 kept no banner or ending of a test, only its verdict, which was
// judged by the same rule as today's: those facts follow from it.
void upgradeTest(Json& test)
{
    if (!test.is_object()) return;
    const Json* verdict = test.contains("verdict") ? &test["verdict"] : nullptr;
    std::string word = verdict != nullptr && verdict->is_string() ? verdict->get<std::string>() : "";
    setIfMissing(test, "banner_seen", word != "not run");
    setIfMissing(test, "ended_in_order", word == "pass" || word == "fail");
    setIfMissing(test, "why", nullptr);
    setIfMissing(test, "failure_lines", Json::array());
    setIfMissing(test, "failure_lines_dropped", 0u);
    setIfMissing(test, "operator_findings", Json::array());
    setIfMissing(test, "paper_checked", false);
    setIfMissing(test, "paper_jobs", nullptr);
    setIfMissing(test, "console", "");
    setIfMissing(test, "console_bytes_dropped", 0u);
    setIfMissing(test, "stderr", "");
    setIfMissing(test, "stderr_bytes_dropped", 0u);
}

void upgradeLibrary(Json& library)
{
    if (!library.is_object()) return;
    // Linux records of schema 1 had no file version: a Linux library has none.
    setIfMissing(library, "file_version", nullptr);
    setIfMissing(library, "replaced_during_run", false);
    setIfMissing(library, "replaced_note", nullptr);
}

// A matrix of schema 1 kept whether each fault was caught, not whether its
// expected test printed the line: a caught fault's expected test did.
void upgradeMatrix(Json& record)
{
    Json& faults = record["faults"];
    if (!faults.is_array()) return;
    for (Json& fault : faults) setIfMissing(fault, "seconds", 0);
    if (!record["tests"].is_array()) return;
    for (Json& test : record["tests"]) {
        if (!test.is_object() || test.contains("expected_seen")) continue;
        bool seen = false;
        for (const Json& fault : faults) {
            // Compared as JSON, so a mistyped field is left for the reader to name.
            if (fault.is_object() && test.contains("fault") && fault.value("fault", Json()) == test["fault"]
                && fault.value("caught", Json()) == Json(true))
                seen = true;
        }
        test["expected_seen"] = seen && !test.value("expected_failure", Json()).is_null();
    }
}

void upgradeFromOne(Json& record)
{
    setIfMissing(record, "bench", record.value("host", Json("")));
    setIfMissing(record, "library", nullptr);
    setIfMissing(record, "probe_library", nullptr);
    setIfMissing(record, "calling_convention", nullptr);
    upgradeLibrary(record["library"]);
    upgradeLibrary(record["probe_library"]);
    double seconds = 0;
    if (record["tests"].is_array()) {
        for (Json& test : record["tests"]) {
            upgradeTest(test);
            if (test.is_object() && test.contains("seconds") && test["seconds"].is_number())
                seconds += test["seconds"].get<double>();
        }
    }
    if (record.contains("faults")) upgradeMatrix(record);
    setIfMissing(record, "failure_lines_outside_tests", Json::array());
    setIfMissing(record, "failure_lines_outside_tests_dropped", 0u);
    // Its tests' time: the run's own total was not kept.
    setIfMissing(record, "seconds", seconds);
    setIfMissing(record, "broke_off", nullptr);
}

} // namespace

void upgradeRecord(Json& record, int schema)
{
    if (schema <= 1) upgradeFromOne(record);
    // Schema 2 had no labels; its identity is made by the reader.
    for (const char* label : { "build", "by", "note" }) setIfMissing(record, label, nullptr);
}

} // namespace vpop
