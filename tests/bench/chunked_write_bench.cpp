// The timed chunked write against a library that takes one byte per call,
// beside the floor: the same calls with one tick reading per chunk and nothing
// else. The write's own bookkeeping must stay within 1.1 times the floor.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runner/harness.h"

// The in-process library: every write takes one byte; nothing else is called
// but the close of a failed outcome, which never happens here.
extern "C" {
VX_BOOL WritePort(PortHandle, const void*, uint32_t size, uint32_t* written)
{
    *written = size == 0 ? 0 : 1;
    return VX_TRUE;
}
VX_BOOL ClosePort(PortHandle) { return VX_TRUE; }
// Linked in with the harness's open, never called.
PortHandle OpenPortA(const char*, const char*, uint32_t) { return nullptr; }
}

namespace {

// Above the bare calls by the words next to the count, compared after each
// call, and the whole guards, compared once per write.
const double ALLOWED_RATIO = 1.1;
PortHandle const port = reinterpret_cast<PortHandle>(0x10);

void timedWrite(benchmark::State& state)
{
    for (auto _ : state) {
        WriteOutcome outcome = timedChunkedWrite(port, rasterJob, RASTER_JOB_SIZE);
        if (outcome != WRITE_ALL_WRITTEN) state.SkipWithError("the write did not finish");
        benchmark::DoNotOptimize(outcome);
    }
    state.SetItemsProcessed(state.iterations() * RASTER_JOB_SIZE);
}

void floorOfCalls(benchmark::State& state)
{
    for (auto _ : state) {
        uint32_t sent = 0;
        while (sent < RASTER_JOB_SIZE) {
            uint32_t start = platform::GetTickCount();
            benchmark::DoNotOptimize(start);
            uint32_t written = 0;
            WritePort(port, rasterJob + sent, RASTER_JOB_SIZE - sent, &written);
            sent += written;
        }
        benchmark::DoNotOptimize(sent);
    }
    state.SetItemsProcessed(state.iterations() * RASTER_JOB_SIZE);
}

BENCHMARK(timedWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(floorOfCalls)->Unit(benchmark::kMillisecond);

// Keeps each run's CPU time per iteration beside the usual console report.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                perIteration[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perIteration;
};

} // namespace

int main(int argc, char** argv)
{
    if (!preparePayloads()) {
        fprintf(stderr, "cannot allocate the payloads\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (reporter.perIteration.count("timedWrite") == 0 || reporter.perIteration.count("floorOfCalls") == 0) return 0;
    double write = reporter.perIteration["timedWrite"];
    double floor = reporter.perIteration["floorOfCalls"];
    double ratio = write / floor;
    printf("timed write %.3f ms, floor %.3f ms, ratio %.3f (allowed %.1f)\n", write, floor, ratio, ALLOWED_RATIO);
    return ratio <= ALLOWED_RATIO ? 0 : 1;
}
