// The lab's questions, asked of a store. Each is one or two statements that
// both engines run as written, and the one rule of what a first failure is;
// a test's verdict is the one the store keeps, judged when the run was added.
// A fault matrix's runs prove the suite, not a build: they count among the
// runs but not in a test's history.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "operator/history/connection.h"

namespace vpop::history {

// A run as the questions show it.
struct RunRef {
    std::string runId;
    std::string bench;
    std::string build;
    std::string sha256;
    std::string started;
    std::string verdict;
};

struct BenchSummary {
    std::string bench;
    unsigned runs = 0;
    RunRef last;
};

struct Summary {
    unsigned runs = 0;
    unsigned builds = 0;
    std::string first;
    std::string last;
    std::vector<BenchSummary> benches;
};

// What the store holds (at `bench`, or everywhere for an empty one).
bool summarize(Connection& store, const std::string& bench, Summary* summary, std::string* error);

// A test in one run.
struct TestRun {
    RunRef run;
    // The build the run tried: its label, else its library's SHA-256.
    std::string buildKey;
    std::string verdict;
    std::string firstLine;
};

// Every run of test `number` that ran it, by bench, then in time order.
bool testRuns(
    Connection& store, unsigned number, const std::string& bench, std::vector<TestRun>* runs, std::string* error);

// A spell of failing: from the run whose failure started it to the run that
// passed under a build that had not failed in it (none while it lasts). A
// pass under a build that failed too (a flaky test) does not end it.
struct FailureSpell {
    TestRun first;
    std::optional<TestRun> passedAgain;
};

// The spells of one bench's runs of one test, oldest first.
std::vector<FailureSpell> failureSpells(const std::vector<TestRun>& benchRuns);

// A test whose verdict changed under one build at one bench.
struct FlakyTest {
    std::string bench;
    unsigned test = 0;
    std::string buildKey;
    std::string build;
    std::string sha256;
    unsigned passes = 0;
    unsigned failures = 0;
};

bool flakyTests(Connection& store, const std::string& bench, std::vector<FlakyTest>* flaky, std::string* error);

// The runs in which the build (its label or its library's SHA-256) passed
// test `number`; `tried` counts the build's runs at all.
bool passedRuns(Connection& store, unsigned number, const std::string& build, const std::string& bench,
    std::vector<RunRef>* runs, unsigned* tried, std::string* error);

// Every run (at `bench`), by bench and then in time order, with its
// tests' verdicts and first lines as the page shows them.
struct RunTests {
    RunRef run;
    std::string buildKey;
    std::string by;
    std::string note;
    std::string why;
    std::string host;
    std::string devbench;
    std::string finished;
    bool partial = false;
    struct Test {
        unsigned number = 0;
        std::string verdict;
        std::string firstLine;
    };
    std::vector<Test> tests;
};
bool benchRuns(Connection& store, const std::string& bench, std::vector<RunTests>* runs, std::string* error);

} // namespace vpop::history
