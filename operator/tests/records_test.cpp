#include <gtest/gtest.h>

#include <filesystem>
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>

#include "operator/record/json_record.h"
#include "operator/record/junit.h"
#include "operator/record/library_identity.h"
#include "operator/record/paper_check.h"
#include "operator/record/records.h"
#include "operator/record/verdict.h"
#include "operator/run/run_record.h"

namespace {

using namespace vpop;

TestRecord test(unsigned number, bool banner, bool finished, std::vector<std::string> failures = {})
{
    TestRecord record;
    record.number = number;
    record.bannerSeen = banner;
    record.finished = finished;
    record.failures = std::move(failures);
    return record;
}

RunRecord runOf(std::vector<TestRecord> tests, std::string brokeOff = "")
{
    RunOutcome outcome;
    outcome.records = std::move(tests);
    outcome.broken = std::move(brokeOff);
    RunRecord record;
    addRun(record, outcome, {});
    return record;
}

// A failure line counts whatever else happened; a test that started and did
// not end in order never passes.
TEST(Verdicts, OfEachTestAndOfTheRun)
{
    EXPECT_EQ(testVerdict(test(0, true, false, { "failure: line(1) x" })), Verdict::Fail);
    EXPECT_EQ(testVerdict(test(0, false, false)), Verdict::NotRun);
    TestRecord finding = test(3, true, true);
    finding.findings = { "operator: paper digest differs: job 1" };
    EXPECT_EQ(testVerdict(finding), Verdict::Fail);

    EXPECT_EQ(runVerdict(runOf({ test(0, true, true) })).verdict, Verdict::Pass);
    EXPECT_EQ(runVerdict(runOf({ test(0, true, true), test(1, false, false) })).verdict, Verdict::Fail);
    EXPECT_EQ(runVerdict(runOf({ test(0, true, false) })).verdict, Verdict::BrokeOff);
    RunVerdict exited = runVerdict(runOf({ test(0, true, true) }, "devbench exited with status 3"));
    EXPECT_EQ(exited.verdict, Verdict::BrokeOff);
    EXPECT_EQ(exited.why, "devbench exited with status 3");
    EXPECT_EQ(exitStatus(exited), 1);
    EXPECT_EQ(runVerdict(runOf({})).verdict, Verdict::Fail);
}

// The expected test of a caught fault fails, as it should; the matrix passes
// only when the healthy run passed and every fault was caught.
TEST(Verdicts, OfTheFaultMatrix)
{
    RunRecord matrix = runOf({ test(10, true, true) });
    matrix.matrix = true;
    RecordedTest caught;
    caught.result = test(10, true, true, { "failure: line(57) onlineStatus != VX_TRUE" });
    caught.fault = "online-flag-2";
    matrix.tests.push_back(caught);
    matrix.faults = { { "online-flag-2", 10, true, "" } };
    EXPECT_EQ(runVerdict(matrix).verdict, Verdict::Pass);
    matrix.faults.push_back({ "chunk:4", 6, false, "test 6 pass" });
    EXPECT_EQ(runVerdict(matrix).verdict, Verdict::Fail);
    matrix.faults.pop_back();
    matrix.tests[0].result.failures = { "failure: line(1) healthy" };
    EXPECT_EQ(runVerdict(matrix).verdict, Verdict::Fail);
}

// A planned test that devbench skipped fails the run without breaking it
// off; its testcase is only skipped, so the run itself must carry a failure.
TEST(Verdicts, JUnitIsNeverGreenForARunThatDidNotPass)
{
    RunRecord skipped = runOf({ test(0, true, true), test(1, false, false) });
    std::string report = junitReport(skipped);
    EXPECT_NE(report.find("<skipped message=\"not run: devbench did not start it\"/>"), std::string::npos);
    EXPECT_NE(
        report.find("<failure message=\"test 1 Test Bad Port Name not run\" type=\"run failed\"/>"), std::string::npos)
        << report;
    EXPECT_EQ(junitReport(runOf({ test(0, true, true) })).find("devbench run"), std::string::npos);
}

// Every field of the model, each with a value no default has.
RunRecord everyField(bool matrix)
{
    RunRecord record;
    record.started = "2026-12-08T02:06:45Z";
    record.finished = "2026-12-08T03:07:46Z";
    record.host = "vm";
    record.bench = "lab.3";
    record.runId = "0123456789abcdef0123456789abcdef";
    record.build = "1.4.2";
    record.by = "Ana";
    record.note = "after the \"cover\" fix";
    record.portName = "/dev/ttyS0";
    record.portSettings = "baud=9600";
    record.mode = "manual";
    record.library
        = LibraryFile { "/x/libKelmorPort.so", true, 42, std::string(64, 'a'), "1.2.3.4", true, "rebuilt", "" };
    record.probeLibrary = LibraryFile { "/x/x86/KelmorPort.dll", false, 0, "", "", false, "", "cannot tell" };
    record.callingConvention = "stdcall";
    record.devbench = "33dbcc5";
    RecordedTest ran;
    ran.result = test(6, true, false, { "failure: line(93) ReadPort timed out" });
    ran.result.failuresDropped = 3;
    ran.result.findings = { "operator: cannot read the paper: gone" };
    ran.result.paper = std::vector<PaperJob> { { 1, 5, std::string(64, 'b') } };
    ran.result.paperChecked = true;
    ran.result.console = "testRead\n\x1b\x01 é\n";
    ran.result.consoleDropped = 7;
    ran.result.stderrText = "KelmorPort: bad setting\n";
    ran.result.stderrBytesDropped = 9;
    ran.result.ended = 1.25;
    ran.why = "devbench went silent";
    if (matrix) {
        ran.fault = "stall-status:300";
        ran.expectedFailure = "ReadPort timed out";
        ran.expectedSeen = true;
        record.faults = { { "stall-status:300", 6, true, "", 2.5 }, { "chunk:4", 3, false, "test 3 pass", 0.75 } };
        record.variations = { { "read-limit:1", "a byte a call", "\"count 0 to size\"", false, "20 not run", 1.5 } };
    }
    RecordedTest notRun;
    notRun.result.number = 20;
    notRun.why = "not run: the run broke off before it started";
    if (matrix) notRun.variation = "read-limit:1";
    record.tests = { ran, notRun };
    record.strayFailures = { "failure: line(1) between" };
    record.strayFailuresDropped = 2;
    record.brokeOff = "devbench ended";
    record.seconds = 12.5;
    record.matrix = matrix;
    return record;
}

void expectSameLibrary(const std::optional<LibraryFile>& a, const std::optional<LibraryFile>& b)
{
    ASSERT_EQ(a.has_value(), b.has_value());
    if (!a) return;
    EXPECT_EQ(std::tie(a->path, a->read, a->size, a->sha256, a->fileVersion, a->replacedDuringRun, a->replacedNote,
                  a->identityNote),
        std::tie(b->path, b->read, b->size, b->sha256, b->fileVersion, b->replacedDuringRun, b->replacedNote,
            b->identityNote));
}

void expectSameTest(const RecordedTest& a, const RecordedTest& b)
{
    const TestRecord& x = a.result;
    const TestRecord& y = b.result;
    EXPECT_EQ(std::tie(x.number, x.bannerSeen, x.finished, x.failures, x.failuresDropped, x.findings, x.paperChecked,
                  x.console, x.consoleDropped, x.stderrText, x.stderrBytesDropped),
        std::tie(y.number, y.bannerSeen, y.finished, y.failures, y.failuresDropped, y.findings, y.paperChecked,
            y.console, y.consoleDropped, y.stderrText, y.stderrBytesDropped));
    // The run's monotonic clock is not kept, only the test's length.
    EXPECT_EQ(x.seconds(), y.seconds());
    ASSERT_EQ(x.paper.has_value(), y.paper.has_value());
    for (size_t i = 0; x.paper && i < x.paper->size() && i < y.paper->size(); ++i)
        EXPECT_EQ(std::tie((*x.paper)[i].number, (*x.paper)[i].size, (*x.paper)[i].sha256),
            std::tie((*y.paper)[i].number, (*y.paper)[i].size, (*y.paper)[i].sha256));
    EXPECT_EQ(std::tie(a.why, a.fault, a.variation, a.expectedFailure, a.expectedSeen),
        std::tie(b.why, b.fault, b.variation, b.expectedFailure, b.expectedSeen));
}

TEST(JsonRecord, WrittenAndReadBackIsTheSameRecord)
{
    for (bool matrix : { false, true }) {
        RunRecord written = everyField(matrix);
        RunRecord read;
        std::string error;
        ASSERT_TRUE(parseRecord(jsonRecord(written), &read, &error)) << error << "\n" << jsonRecord(written);
        EXPECT_EQ(std::tie(read.runId, read.build, read.by, read.note),
            std::tie(written.runId, written.build, written.by, written.note));
        EXPECT_EQ(std::tie(read.started, read.finished, read.host, read.bench, read.portName, read.portSettings,
                      read.mode, read.callingConvention, read.devbench, read.strayFailures, read.strayFailuresDropped,
                      read.brokeOff, read.seconds, read.matrix),
            std::tie(written.started, written.finished, written.host, written.bench, written.portName,
                written.portSettings, written.mode, written.callingConvention, written.devbench, written.strayFailures,
                written.strayFailuresDropped, written.brokeOff, written.seconds, written.matrix));
        expectSameLibrary(read.library, written.library);
        expectSameLibrary(read.probeLibrary, written.probeLibrary);
        ASSERT_EQ(read.tests.size(), written.tests.size());
        for (size_t i = 0; i < read.tests.size(); ++i) expectSameTest(read.tests[i], written.tests[i]);
        ASSERT_EQ(read.faults.size(), written.faults.size());
        for (size_t i = 0; i < read.faults.size(); ++i)
            EXPECT_EQ(std::tie(read.faults[i].fault, read.faults[i].expectedTest, read.faults[i].caught,
                          read.faults[i].note, read.faults[i].seconds),
                std::tie(written.faults[i].fault, written.faults[i].expectedTest, written.faults[i].caught,
                    written.faults[i].note, written.faults[i].seconds));
        ASSERT_EQ(read.variations.size(), written.variations.size());
        for (size_t i = 0; i < read.variations.size(); ++i) {
            const VariationResult& x = read.variations[i];
            const VariationResult& y = written.variations[i];
            EXPECT_EQ(std::tie(x.variation, x.what, x.allowedBy, x.passed, x.note, x.seconds),
                std::tie(y.variation, y.what, y.allowedBy, y.passed, y.note, y.seconds));
        }
        EXPECT_EQ(jsonRecord(read), jsonRecord(written));
    }
}

// Whatever a file holds, the reader names what is wrong and never crashes,
// overflows or reads a verdict its own facts contradict.
TEST(JsonRecord, HostileRecordsAreRefusedByName)
{
    std::string good = jsonRecord(everyField(false));
    auto edited = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const std::pair<std::string, std::string> cases[] = {
        { good.substr(0, good.size() / 2), "it is cut short" },
        { "run.json\n", "it is not JSON" },
        // Wrong at its last byte is not cut short.
        { "{}}", "it is not JSON" },
        { "{\"schema\": 3}", "not a run record" },
        { edited("\"schema\": 3", "\"schema\": 4"),
            "another version (schema 4); this vpoperator reads schemas 1 to 3: read it with a newer" },
        { edited("\"seconds\": 12.5", "\"seconds\": 1e400"), "number overflow" },
        { edited("\"schema\": 3", "\"schema\": " + std::string(100000, '[') + std::string(100000, ']')),
            "nests more than 32 levels" },
        { edited("\"schema\": 3", "\"schema\": " + std::string(32, '[') + std::string(32, ']')),
            "nests more than 32 levels" },
        { edited("\"schema\": 3", "\"schema\": " + std::string(31, '[') + std::string(31, ']')), "another version" },
        { edited("\"number\": 20", "\"number\": 21"), "\"number\" is 21, above 20" },
        { edited("\"number\": 20", "\"number\": -1"), "\"number\" is not a count" },
        { edited("\"verdict\": \"broke off\"", "\"verdict\": \"pass\""), "judged \"broke off\"; was it edited?" },
        { edited("\"verdict\": \"fail\"", "\"verdict\": \"passed\""), "\"verdict\" is \"passed\"" },
        { edited("\"verdict\": \"broke off\"", "\"verdict\": \"not run\""), "not pass, fail or broke off" },
        { edited("2026-12-08T02:06:45Z", "2026-02-29T02:06:45Z"), "\"started\" is \"2026-02-29T02:06:45Z\"" },
        { edited("\"bench\": \"lab.3\",", ""), "\"bench\" is missing" },
        { edited("\"ended_in_order\": false", "\"ended_in_order\": 0"), "is not true or false" },
    };
    for (const auto& [text, why] : cases) {
        RunRecord read;
        std::string error;
        EXPECT_FALSE(parseRecord(text, &read, &error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error << " does not say " << why;
    }
    // A byte no writer writes reads as U+FFFD, not as an unreadable record.
    RunRecord read;
    std::string error;
    EXPECT_TRUE(parseRecord(edited("vm", "v\xff"), &read, &error)) << error;
    EXPECT_EQ(read.host, "v\xEF\xBF\xBD");
    // Brackets inside text, after an escaped quote, nest nothing.
    EXPECT_TRUE(parseRecord(edited("\"vm\"", "\"\\\"" + std::string(40, '[') + "\""), &read, &error)) << error;
    EXPECT_TRUE(parseRecord(edited("2026-12-08T02:06:45Z", "2024-02-29T02:06:45Z"), &read, &error)) << error;
}

// A FIFO with no writer would block a plain read for ever.
TEST(JsonRecord, AFifoOrADeviceIsRefusedWithoutWaiting)
{
    std::string fifo = testing::TempDir() + "record-fifo";
    remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunRecord read;
    std::string error;
    EXPECT_FALSE(readRecord(fifo, &read, &error));
    EXPECT_NE(error.find(fifo + ": it is not a file"), std::string::npos) << error;
    remove(fifo.c_str());
    EXPECT_FALSE(readRecord("/dev/zero", &read, &error));
    EXPECT_NE(error.find("it is not a file"), std::string::npos) << error;
}

TEST(Paper, AMissingJobAndAJobTooManyAreFindings)
{
    const SentJob& query = sentJobs(6)->front();
    EXPECT_EQ(comparePaper(6, { { 1, query.size, query.sha256 } }), std::vector<std::string> {});
    std::vector<std::string> missing = comparePaper(6, {});
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].find("operator: paper digest differs: no job on the paper for the firmware query"), 0u);
    std::vector<std::string> extra = comparePaper(6, { { 1, query.size, query.sha256 }, { 2, 1, query.sha256 } });
    ASSERT_EQ(extra.size(), 1u);
    EXPECT_NE(extra[0].find("job 2 (1 bytes"), std::string::npos);
    EXPECT_NE(extra[0].find("is more than the test sent"), std::string::npos);

    // A test that failed stopped sending partway; its failure line says so.
    TestRecord failed = test(6, true, true, { "failure: line(93) ReadPort timed out" });
    judgePaper(failed, std::vector<PaperJob> {}, "");
    EXPECT_TRUE(failed.findings.empty());
    EXPECT_FALSE(failed.paperChecked);
}

// The record names the library file that ran, never one put in its place:
// replaced before it was read, it is not hashed; rewritten after, it is
// said so beside the hash of the one read.
TEST(Library, AFileReplacedOrRewrittenIsSaidSo)
{
    std::string path = testing::TempDir() + "vpop-libKelmorPort.so";
    std::ofstream(path) << "loaded";
    FileIdentity loaded;
    ASSERT_TRUE(fileIdentity(path, &loaded));
    std::string other = path + ".new";
    std::ofstream(other) << "rebuilt";
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    LibraryFile replaced = inspectLibrary(path, &loaded);
    EXPECT_TRUE(replaced.replacedDuringRun);
    EXPECT_FALSE(replaced.read);

    FileIdentity read;
    LibraryFile library = inspectLibrary(path, nullptr, &read);
    ASSERT_TRUE(library.read);
    recheckLibrary(library, read);
    EXPECT_FALSE(library.replacedDuringRun) << library.replacedNote;
    std::ofstream(path, std::ios::app) << " and patched";
    recheckLibrary(library, read);
    EXPECT_TRUE(library.replacedDuringRun);
    EXPECT_EQ(library.size, 7u);
    remove(path.c_str());
}

} // namespace

// Every seed of the record reader's fuzz corpus is a record it reads, a
// matrix among them, so a change of format cannot leave the fuzzer without
// a valid record to mutate.
TEST(JsonRecord, EverySeedOfTheReadersCorpusReads)
{
    unsigned seeds = 0;
    bool matrix = false;
    for (const auto& entry : std::filesystem::directory_iterator(VPOP_SOURCE_DIR "/fuzz/corpus/record_reader")) {
        RunRecord read;
        std::string error;
        EXPECT_TRUE(readRecord(entry.path().string(), &read, &error)) << error;
        matrix |= read.matrix;
        ++seeds;
    }
    EXPECT_GE(seeds, 3u);
    EXPECT_TRUE(matrix);
}

std::string seed(const std::string& name)
{
    std::ifstream file(VPOP_SOURCE_DIR "/fuzz/corpus/record_reader/" + name, std::ios::binary);
    EXPECT_TRUE(file) << name;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Every judgement a record states is derived again from its facts: a real
// record edited to state another is refused, whichever judgement it is.
TEST(JsonRecord, EveryStatedJudgementIsDerivedAgain)
{
    std::string matrix = seed("matrix.json");
    std::string run = seed("pass-schema3.json");
    std::string controls = seed("matrix-controls.json");
    auto edited = [](std::string text, const std::string& from, const std::string& to) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    std::string unseen = edited(edited(matrix, "\"failure: line(56) onlineStatus != VX_TRUE\"", ""),
        "\"verdict\": \"fail\"", "\"verdict\": \"pass\"");
    const std::pair<std::string, std::string> cases[] = {
        { edited(matrix, "\"expected_seen\": true", "\"expected_seen\": false"), "\"expected_seen\" is false" },
        { unseen, "\"expected_seen\" is true, but its failure lines and findings say false" },
        { edited(matrix, "\"caught\": true", "\"caught\": false"), "\"caught\" is false, but its tests say true" },
        { edited(controls, "\"passed\": true", "\"passed\": false"), "\"passed\" is false, but its tests say true" },
        { edited(run, "\"failure_lines_dropped\": 0", "\"failure_lines_dropped\": 3"), "judged \"fail\"" },
        { edited(run, "c3b3008984ac5b12", "d3b3008984ac5b12"), "judged \"fail\"" },
        { edited(run, "\"passed\": 2", "\"passed\": 1"), "\"passed\" is 1, but the tests say 2" },
        { edited(run, "\"partial\": true", "\"partial\": false"), "\"partial\" contradicts" },
    };
    for (const auto& [text, why] : cases) {
        RunRecord read;
        std::string error;
        EXPECT_FALSE(parseRecord(text, &read, &error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error << " does not say " << why;
    }
}

// A DLL's width is read from its header before anything loads it, so a
// 32-bit DLL in the 64-bit folder is named instead of a bare status.
TEST(Library, ADllOfTheWrongWidthIsNamedBeforeItLoads)
{
    std::string path = testing::TempDir() + "KelmorPort.dll";
    auto write = [&](unsigned machine) {
        std::string bytes(0x100, '\0');
        bytes[0] = 'M', bytes[1] = 'Z', bytes[0x3C] = 0x40;
        bytes.replace(0x40, 4, std::string("PE\0\0", 4));
        bytes[0x44] = static_cast<char>(machine & 0xFF), bytes[0x45] = static_cast<char>(machine >> 8);
        FILE* file = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, machine == 0 ? 0x30 : bytes.size(), file);
        fclose(file);
    };
    write(0x8664);
    EXPECT_EQ(dllWidthProblem(path, 64), "");
    EXPECT_NE(dllWidthProblem(path, 32).find("is a 64-bit DLL, where the 32-bit one belongs"), std::string::npos);
    write(0x14C);
    EXPECT_NE(dllWidthProblem(path, 64).find("in the 32-bit folder"), std::string::npos);
    write(0);
    EXPECT_NE(dllWidthProblem(path, 64).find("is no Windows DLL"), std::string::npos);
    remove(path.c_str());
    EXPECT_EQ(dllWidthProblem(path, 64), "");
}
