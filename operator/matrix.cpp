#include "operator/matrix.h"

#include <stdio.h>

#include <string>
#include <vector>

#include "operator/faults.h"
#include "operator/prompts.h"
#include "operator/report.h"

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

} // namespace

int runMatrix(const RunOptions& options, RunRecord* record)
{
    // A test that fails without any fault would make every catch meaningless.
    RunOutcome healthy = runOperator(options, oneByOne(catalogueTests()));
    addRun(*record, healthy, oneByOne(catalogueTests()));
    if (!healthy.passed()) {
        printReport(healthy);
        fprintf(stderr, "vpoperator: the healthy run failed%s%s; no fault can be judged\n",
            healthy.broken.empty() ? "" : ": ", healthy.broken.c_str());
        return healthy.setupFailed && !healthy.interrupted ? EXIT_USAGE : EXIT_FAILED;
    }
    printf("healthy run of the matrix tests: all passed (%.2f s)\n\n", healthy.seconds);
    printf("%-28s %-42s %s\n", "fault", "expected test", "caught");
    const auto& tests = suiteTests();
    unsigned caught = 0;
    double seconds = healthy.seconds;
    for (const FaultCase& fault : faultCatalogue()) {
        RunOptions faulty = options;
        faulty.settings = combinedSettings(options.settings, fault.librarySetting);
        for (std::string_view option : fault.printerOptions) faulty.printerOptions.emplace_back(option);
        RunOutcome outcome = runOperator(faulty, oneByOne(fault.tests));
        seconds += outcome.seconds;
        Judgement judgement = judge(fault, outcome);
        addFaultRun(*record, outcome, fault, judgement);
        if (outcome.interrupted) {
            fprintf(stderr, "vpoperator: interrupted\n");
            return EXIT_FAILED;
        }
        if (judgement.caught) ++caught;
        std::string expected = std::to_string(fault.expectedTest) + " " + std::string(tests[fault.expectedTest].name);
        printf("%-28s %-42s %s%s%s\n", std::string(fault.fault).c_str(), expected.c_str(),
            judgement.caught ? "yes" : "NO", judgement.note.empty() ? "" : "  ", judgement.note.c_str());
    }
    size_t total = faultCatalogue().size();
    printf("%u of %zu faults caught, total %.2f s\n", caught, total, seconds);
    return caught == total ? 0 : EXIT_FAILED;
}

} // namespace vpop
