// The lab's questions against a store: a new SQLite file, or the PostgreSQL
// server DEVBENCH_HISTORY_STORE names (tests/history/postgres.sh starts a
// throw-away one and runs these same tests against it).
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include <gtest/gtest.h>

#include "operator/history/add.h"
#include "operator/history/command.h"
#include "operator/history/schema.h"
#include "operator/record/json_record.h"

namespace vpop::history {
namespace {

using Json = nlohmann::json;

std::string fixture(const std::string& name)
{
    return std::string(VPOP_SOURCE_DIR) + "/operator/tests/history/" + name;
}

class History : public testing::Test {
protected:
    void SetUp() override
    {
        const char* server = getenv("DEVBENCH_HISTORY_STORE");
        if (server == nullptr) {
            db_ = testing::TempDir() + "history-" + testing::UnitTest::GetInstance()->current_test_info()->name()
                + ".sqlite";
            for (const char* end : { "", "-wal", "-shm" }) remove((db_ + end).c_str());
            return;
        }
        db_ = server;
        std::string error;
        std::unique_ptr<Connection> store = openStore(db_, &error);
        ASSERT_TRUE(store && prepareStore(*store, &error)) << error;
        ASSERT_TRUE(store->execute("DELETE FROM tests", {}, &error) && store->execute("DELETE FROM runs", {}, &error))
            << error;
    }

    // `vpoperator history ARGS --db STORE`, as a technician types it.
    int history(std::vector<std::string> arguments, std::string* out)
    {
        arguments.push_back("--db");
        arguments.push_back(db_);
        testing::internal::CaptureStdout();
        int status = historyCommand(arguments);
        *out = testing::internal::GetCapturedStdout();
        return status;
    }

    Json ask(std::vector<std::string> arguments, int expected = 0)
    {
        std::string out;
        arguments.push_back("--json");
        EXPECT_EQ(history(arguments, &out), expected) << out;
        return Json::parse(out, nullptr, false);
    }

    void addFixtures()
    {
        std::vector<std::string> add = { "add" };
        for (const char* name : { "b1-1.0", "b1-1.1-online-flag", "b1-1.1", "b2-1.1-online-flag", "b2-1.2" })
            add.push_back(fixture(std::string(name) + ".json"));
        std::string out;
        ASSERT_EQ(history(add, &out), 0) << out;
        EXPECT_NE(out.find("5 runs added, 0 already there"), std::string::npos) << out;
        // A run is one run however often it is added.
        ASSERT_EQ(history(add, &out), 0) << out;
        EXPECT_NE(out.find("0 runs added, 5 already there"), std::string::npos) << out;
    }

    std::string db_;
};

TEST_F(History, WhatTheStoreHolds)
{
    addFixtures();
    Json summary = ask({});
    EXPECT_EQ(summary["runs"], 5);
    EXPECT_EQ(summary["benches"], 2);
    EXPECT_EQ(summary["builds"], 3);
    EXPECT_EQ(summary["bench_runs"][0]["last_run"]["build"], "1.1");
    EXPECT_EQ(summary["bench_runs"][1]["last_run"]["build"], "1.2");
    EXPECT_EQ(ask({ "--bench", "b2" })["runs"], 2);
}

// A pass under the build that failed (flaky) does not end a spell of
// failing; a pass under a later build does.
TEST_F(History, FirstFailureAndFlakyTests)
{
    addFixtures();
    Json first = ask({ "first-failure", "--test", "10" })["benches"];
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]["bench"], "b1");
    EXPECT_TRUE(first[0]["failing"]);
    EXPECT_EQ(first[0]["first_failure"]["started"], "2026-12-02T09:00:00Z");
    EXPECT_EQ(first[0]["first_failure"]["first_line"], "failure: line(64) onlineStatus != VX_TRUE");
    EXPECT_FALSE(first[1]["failing"]);
    EXPECT_EQ(first[1]["first_failure"]["build"], "1.1");
    EXPECT_EQ(first[1]["passed_again"]["build"], "1.2");
    EXPECT_TRUE(ask({ "first-failure", "--test", "18" })["benches"][0]["first_failure"].is_null());
    Json flaky = ask({ "flaky" })["flaky"];
    ASSERT_EQ(flaky.size(), 1u) << flaky;
    EXPECT_EQ(flaky[0]["bench"], "b1");
    EXPECT_EQ(flaky[0]["test"], 10);
    EXPECT_EQ(flaky[0]["builds"][0]["build"], "1.1");
    EXPECT_EQ(std::make_pair(flaky[0]["passes"].get<int>(), flaky[0]["failures"].get<int>()), std::make_pair(1, 1));
    EXPECT_TRUE(ask({ "flaky", "--bench", "b2" })["flaky"].empty());
}

TEST_F(History, PassedSaysWhetherABuildEverPassedATest)
{
    addFixtures();
    EXPECT_EQ(ask({ "passed", "--test", "10", "--build", "1.1" })["runs"].size(), 1u);
    EXPECT_EQ(ask({ "passed", "--test", "10", "--build", "1.1", "--bench", "b2" }, 1)["runs_of_build"], 1);
    EXPECT_EQ(ask({ "passed", "--test", "10", "--build", "9.9" }, 1)["runs_of_build"], 0);
    // By the library's hash, in either case.
    EXPECT_EQ(ask({ "passed", "--test", "18", "--build",
                  "6719370CAF8E9D3C78ECD797427E14671F66327F8EA37A36CF705A6E56FE772D" })["runs"]
                  .size(),
        5u);
    std::string out;
    EXPECT_EQ(history({ "passed", "--test", "21", "--build", "1.1" }, &out), 2);
}

TEST_F(History, ThePageLinksEachCellToItsRun)
{
    addFixtures();
    std::string page = testing::TempDir() + "history.html", out;
    ASSERT_EQ(history({ "report", "--html", page }, &out), 0) << out;
    std::string html;
    std::string error;
    FILE* file = fopen(page.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;) html.append(buffer, got);
    fclose(file);
    RunRecord flakyRun;
    ASSERT_TRUE(readRecord(fixture("b1-1.1-online-flag.json"), &flakyRun, &error)) << error;
    std::string anchor = "run-" + flakyRun.runId;
    EXPECT_NE(html.find("href=\"#" + anchor + "\""), std::string::npos);
    EXPECT_NE(html.find("id=\"" + anchor + "\""), std::string::npos);
    EXPECT_NE(html.find("class=\"c flaky first-failure\""), std::string::npos);
}

// Two benches, each adding its runs one at a time to a store neither has
// made yet: every run arrives.
TEST_F(History, TwoBenchesAddingAtOnceLoseNothing)
{
    RunRecord base;
    std::string error;
    ASSERT_TRUE(readRecord(fixture("b1-1.0.json"), &base, &error)) << error;
    const int runs = 40;
    auto bench = [&](const std::string& name, bool* ok) {
        std::string why;
        std::unique_ptr<Connection> store = openStore(db_, &why);
        *ok = store && prepareStore(*store, &why);
        for (int i = 0; *ok && i < runs; ++i) {
            RunRecord record = base;
            record.bench = name;
            record.runId = name + "-" + std::to_string(i);
            bool added = false;
            *ok = store->beginWriting(&why) && addRun(*store, record, &added, &why) && store->commit(&why) && added;
        }
        EXPECT_TRUE(*ok) << name << ": " << why;
    };
    bool first = false, second = false;
    std::thread one(bench, "bench-1", &first), two(bench, "bench-2", &second);
    one.join();
    two.join();
    EXPECT_EQ(ask({})["runs"], 2 * runs);
}

// A record of schema 1 or 2 is read as its run was: the bench it ran at, its
// verdicts; its identity is its content's, whatever its layout on disk.
TEST_F(History, OlderRecordsAreReadAndKeptOnce)
{
    RunRecord one, reformatted;
    std::string error, text;
    ASSERT_TRUE(readRecord(fixture("schema-1.json"), &one, &error)) << error;
    EXPECT_EQ(one.bench, "b4");
    EXPECT_EQ(one.tests[0].result.failures.size(), 1u);
    Json json = Json::parse(std::ifstream(fixture("schema-1.json")));
    json.erase("verdict");
    ASSERT_TRUE(parseRecord(json.dump(), &reformatted, &error)) << error;
    json = Json::parse(std::ifstream(fixture("schema-1.json")));
    ASSERT_TRUE(parseRecord(json.dump(7), &reformatted, &error)) << error;
    EXPECT_EQ(reformatted.runId, one.runId);
    std::string copy = testing::TempDir() + "schema-1-copy.json";
    FILE* file = fopen(copy.c_str(), "wb");
    fputs(json.dump(7).c_str(), file);
    fclose(file);
    std::string out;
    ASSERT_EQ(history({ "add", fixture("schema-1.json"), fixture("schema-2.json"), copy }, &out), 0) << out;
    EXPECT_NE(out.find("2 runs added, 1 already there"), std::string::npos) << out;
    Json first = ask({ "first-failure", "--test", "10" })["benches"];
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]["bench"], "b3");
    EXPECT_TRUE(first[1]["failing"]);
}

} // namespace
} // namespace vpop::history
