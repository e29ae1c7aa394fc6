#include "operator/run/matrix.h"
#include "operator/run/run_record.h"

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "operator/platform/processes.h"
#include "operator/record/verdict.h"
#include "operator/run/faults.h"
#include "operator/run/prompts.h"
#include "operator/run/table.h"

namespace vpop {

namespace {

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

std::vector<MenuChoice> oneByOne(const std::vector<unsigned>& tests)
{
    std::vector<MenuChoice> plan;
    for (unsigned test : tests) plan.push_back({ std::to_string(test), { test } });
    return plan;
}

// The runs of the matrix: the healthy run first, then one per fault in
// catalogue order. Each run has its own printer and temporary folder, so
// they go in parallel; most of a run is waiting on the suite's time limits.
class Runs {
public:
    Runs(const RunOptions& options, unsigned jobs)
        : options_(options)
        , outcomes_(faultCatalogue().size() + 1)
    {
        for (unsigned i = 0; i < std::min<size_t>(jobs, outcomes_.size()); ++i)
            workers_.emplace_back([this] { work(); });
    }
    ~Runs()
    {
        stopStarting();
        for (std::thread& worker : workers_) worker.join();
    }

    // Waits for run `index` (0 healthy, else fault index - 1) to end.
    const RunOutcome& outcome(size_t index)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return outcomes_[index].has_value(); });
        return *outcomes_[index];
    }

    // Runs not yet started never start; those under way end on their own.
    void stopStarting() { next_ = outcomes_.size(); }

private:
    void work()
    {
        for (size_t index; (index = next_++) < outcomes_.size();) {
            RunOutcome outcome = index == 0
                ? runOperator(options_, oneByOne(catalogueTests()), oneByOne(catalogueTests(Suite::Extended)))
                : runFault(index - 1);
            std::lock_guard<std::mutex> lock(mutex_);
            outcomes_[index] = std::move(outcome);
            ended_.notify_all();
        }
    }

    RunOutcome runFault(size_t index) const
    {
        const FaultCase& fault = faultCatalogue()[index];
        RunOptions faulty = options_;
        faulty.settings = combinedSettings(options_.settings, fault.librarySetting);
        for (std::string_view option : fault.printerOptions) faulty.printerOptions.emplace_back(option);
        if (fault.personPace) faulty.paceMs = PERSON_PACE_MS;
        if (fault.suite == Suite::Extended) return runOperator(faulty, {}, oneByOne(fault.tests));
        return runOperator(faulty, oneByOne(fault.tests));
    }

    const RunOptions& options_;
    std::atomic<size_t> next_ { 0 };
    std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<std::optional<RunOutcome>> outcomes_;
    std::vector<std::thread> workers_;
};

void printRow(const FaultCase& fault, const Judgement& judgement)
{
    std::string expected = testTitle(fault.suite, fault.expectedTest);
    printf("%-28s %-42s %s%s%s\n", std::string(fault.fault).c_str(), expected.c_str(), judgement.caught ? "yes" : "NO",
        judgement.note.empty() ? "" : "  ", judgement.note.c_str());
}

} // namespace

int runMatrix(const RunOptions& options, unsigned jobs, RunRecord* record)
{
    double started = monotonicSeconds();
    printf("healthy run of the %zu tests the matrix uses, beside the first faults ...\n", catalogueTests().size());
    fflush(stdout);
    Runs runs(options, jobs);
    // A test that fails without any fault would make every catch meaningless.
    const RunOutcome& healthy = runs.outcome(0);
    addRun(*record, healthy, oneByOne(catalogueTests()));
    if (runVerdict(*record).verdict != Verdict::Pass) {
        runs.stopStarting();
        printTable(*record);
        fprintf(stderr, "vpoperator: the healthy run failed%s%s; no fault can be judged\n",
            healthy.broken.empty() ? "" : ": ", healthy.broken.c_str());
        return healthy.setupFailed && !healthy.interrupted ? EXIT_USAGE : EXIT_FAILED;
    }
    printf("healthy run of the matrix tests: all passed (%.2f s)\n\n", healthy.seconds);
    printf("%-28s %-42s %s\n", "fault", "expected test", "caught");
    unsigned caught = 0;
    double seconds = healthy.seconds;
    const FaultCase* longest = nullptr;
    double longestSeconds = 0;
    for (size_t i = 0; i < faultCatalogue().size(); ++i) {
        const FaultCase& fault = faultCatalogue()[i];
        const RunOutcome& outcome = runs.outcome(i + 1);
        seconds += outcome.seconds;
        if (outcome.seconds > longestSeconds) {
            longest = &fault;
            longestSeconds = outcome.seconds;
        }
        Judgement judgement = judge(fault, outcome);
        addFaultRun(*record, outcome, fault, judgement.note);
        if (outcome.interrupted) {
            runs.stopStarting();
            fprintf(stderr, "vpoperator: interrupted\n");
            return EXIT_FAILED;
        }
        if (judgement.caught) ++caught;
        printRow(fault, judgement);
    }
    size_t total = faultCatalogue().size();
    printf("%u of %zu faults caught, total %.2f s\n", caught, total, seconds);
    printf("%.2f s with %u jobs; the longest run: %s, %.2f s\n", monotonicSeconds() - started, jobs,
        longest != nullptr ? std::string(longest->fault).c_str() : "none", longestSeconds);
    return caught == total ? 0 : EXIT_FAILED;
}

} // namespace vpop
