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

// One run of the matrix: what it adds to the settings and the printer's
// options, and its tests, one menu choice each.
struct PlannedRun {
    std::string_view librarySetting;
    std::vector<std::string_view> printerOptions;
    ProfileTests tests;
};

// The healthy run first, then one per fault, then one per variation, each
// in catalogue order.
std::vector<PlannedRun> plannedRuns()
{
    std::vector<PlannedRun> runs { { "", {}, { catalogueTests(), catalogueTests(Suite::Extended) } } };
    for (const FaultCase& fault : faultCatalogue())
        runs.push_back({ fault.librarySetting, fault.printerOptions, faultTests(fault) });
    for (const VariationCase& variation : variationCatalogue())
        runs.push_back({ variation.librarySetting, variation.printerOptions, variationTests(variation) });
    return runs;
}

// The order the runs start in: the healthy run, whose verdict every other
// rests on; then the longest of each catalogue (each puts it first); then
// the variations, each a run of every test, before the short faults.
std::vector<size_t> startOrder()
{
    size_t faults = faultCatalogue().size();
    size_t variations = variationCatalogue().size();
    std::vector<size_t> order { 0 };
    if (variations > 0) order.push_back(1 + faults);
    if (faults > 0) order.push_back(1);
    for (size_t i = 1; i < variations; ++i) order.push_back(1 + faults + i);
    for (size_t i = 1; i < faults; ++i) order.push_back(1 + i);
    return order;
}

// The runs of the matrix. Each has its own printer and temporary folder, so
// they go in parallel; most of a run is waiting on the suite's time limits.
class Runs {
public:
    Runs(const RunOptions& options, unsigned jobs)
        : options_(options)
        , runs_(plannedRuns())
        , order_(startOrder())
        , outcomes_(runs_.size())
    {
        for (unsigned i = 0; i < std::min<size_t>(jobs, outcomes_.size()); ++i)
            workers_.emplace_back([this] { work(); });
    }
    ~Runs()
    {
        stopStarting();
        for (std::thread& worker : workers_) worker.join();
    }

    // Waits for run `index` (of plannedRuns) to end.
    const RunOutcome& outcome(size_t index)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return outcomes_[index].has_value(); });
        return *outcomes_[index];
    }

    // Runs not yet started never start; those under way end on their own.
    void stopStarting() { next_ = order_.size(); }

private:
    void work()
    {
        for (size_t next; (next = next_++) < order_.size();) {
            size_t index = order_[next];
            const PlannedRun& run = runs_[index];
            RunOptions options = options_;
            options.echoStderr = options_.verbose;
            options.settings = combinedSettings(options_.settings, run.librarySetting);
            for (std::string_view option : run.printerOptions) options.printerOptions.emplace_back(option);
            options.paceMs = run.tests.personPace ? PERSON_PACE_MS : 0;
            RunOutcome outcome = runOperator(options, oneByOne(run.tests.devbench), oneByOne(run.tests.extended));
            std::lock_guard<std::mutex> lock(mutex_);
            outcomes_[index] = std::move(outcome);
            ended_.notify_all();
        }
    }

    const RunOptions& options_;
    const std::vector<PlannedRun> runs_;
    const std::vector<size_t> order_;
    std::atomic<size_t> next_ { 0 };
    std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<std::optional<RunOutcome>> outcomes_;
    std::vector<std::thread> workers_;
};

// The matrix's own figures, for its summary.
struct Tally {
    unsigned caught = 0;
    unsigned passed = 0;
    double seconds = 0;
    std::string longest = "none";
    double longestSeconds = 0;

    void add(std::string_view name, double runSeconds)
    {
        seconds += runSeconds;
        if (runSeconds <= longestSeconds) return;
        longest = name;
        longestSeconds = runSeconds;
    }
};

void printFaultRow(const FaultCase& fault, const Judgement& judgement)
{
    std::string expected = testTitle(fault.suite, fault.expectedTest);
    printf("%-28s %-42s %s%s%s\n", std::string(fault.fault).c_str(), expected.c_str(), judgement.met ? "yes" : "NO",
        judgement.note.empty() ? "" : "  ", judgement.note.c_str());
}

// A control's row: how it did, then what it does and the words that allow it.
void printVariationRow(const VariationResult& variation)
{
    printf("%-28s %-20s %s\n", variation.variation.c_str(), std::string(variationOutcome(variation)).c_str(),
        variation.what.c_str());
    printf("%-49s allowed by %s\n", "", variation.allowedBy.c_str());
    if (!variation.note.empty()) printf("%-49s %s\n", "", variation.note.c_str());
}

// False when the run was interrupted.
bool judgeFaults(Runs& runs, RunRecord* record, Tally* tally)
{
    printf("%-28s %-42s %s\n", "fault", "expected test", "caught");
    for (size_t i = 0; i < faultCatalogue().size(); ++i) {
        const FaultCase& fault = faultCatalogue()[i];
        const RunOutcome& outcome = runs.outcome(1 + i);
        tally->add(fault.fault, outcome.seconds);
        Judgement judgement = judge(fault, outcome);
        addFaultRun(*record, outcome, fault, judgement.note);
        if (outcome.interrupted) return false;
        if (judgement.met) ++tally->caught;
        printFaultRow(fault, judgement);
    }
    return true;
}

// False when the run was interrupted.
bool judgeVariations(Runs& runs, RunRecord* record, Tally* tally)
{
    printf("\n%-28s %-20s %s\n", "control (healthy variation)", "outcome", "what it does");
    size_t first = 1 + faultCatalogue().size();
    for (size_t i = 0; i < variationCatalogue().size(); ++i) {
        const VariationCase& variation = variationCatalogue()[i];
        const RunOutcome& outcome = runs.outcome(first + i);
        tally->add(variation.variation, outcome.seconds);
        Judgement judgement = judge(variation, outcome);
        addVariationRun(*record, outcome, variation, judgement.note);
        if (outcome.interrupted) return false;
        if (judgement.met) ++tally->passed;
        printVariationRow(record->variations.back());
    }
    return true;
}

} // namespace

int runMatrix(const RunOptions& options, unsigned jobs, RunRecord* record)
{
    double started = monotonicSeconds();
    printf("healthy run of the %zu tests the matrix uses, beside the first faults and variations ...\n",
        catalogueTests().size() + catalogueTests(Suite::Extended).size());
    fflush(stdout);
    Runs runs(options, jobs);
    // A test that fails without any fault would make every catch meaningless.
    const RunOutcome& healthy = runs.outcome(0);
    addRun(*record, healthy, oneByOne(catalogueTests()), oneByOne(catalogueTests(Suite::Extended)));
    if (runVerdict(*record).verdict != Verdict::Pass) {
        runs.stopStarting();
        printTable(*record);
        fprintf(stderr, "vpoperator: the healthy run failed%s%s; no fault can be judged\n",
            healthy.broken.empty() ? "" : ": ", healthy.broken.c_str());
        return healthy.setupFailed && !healthy.interrupted ? EXIT_USAGE : EXIT_FAILED;
    }
    printf("healthy run of the matrix tests: all passed (%.2f s)\n\n", healthy.seconds);
    Tally tally;
    tally.seconds = healthy.seconds;
    if (!judgeFaults(runs, record, &tally) || !judgeVariations(runs, record, &tally)) {
        runs.stopStarting();
        fprintf(stderr, "vpoperator: interrupted\n");
        return EXIT_FAILED;
    }
    size_t faults = faultCatalogue().size();
    size_t variations = variationCatalogue().size();
    printf("%u of %zu faults caught; %u of %zu controls passed; total %.2f s\n", tally.caught, faults, tally.passed,
        variations, tally.seconds);
    printf("%.2f s with %u jobs; the longest run: %s, %.2f s\n", monotonicSeconds() - started, jobs,
        tally.longest.c_str(), tally.longestSeconds);
    return tally.caught == faults && tally.passed == variations ? 0 : EXIT_FAILED;
}

} // namespace vpop
