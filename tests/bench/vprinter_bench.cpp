// The stand-in library against a virtual printer this program starts: the
// raster job's 120,100 bytes through the timed chunked write, and the first
// status query of a session (GetParsedStatusEx right after the open) against
// the 200 ms the parsed-status tests allow it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "runner/harness.h"

extern char** environ;

namespace {

const double FIRST_QUERY_LIMIT_MS = 200;

std::string endpoint;
pid_t printer = -1;

std::string besideThisProgram(const char* name)
{
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return name;
    std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + name;
}

PortHandle openPort() { return OpenPortA(endpoint.c_str(), "", 5000); }

// Starts `vprinter serve` on a socket of its own and waits until a port on
// it opens.
bool startPrinter()
{
    char directory[] = "/tmp/vprinter-bench-XXXXXX";
    if (mkdtemp(directory) == nullptr) return false;
    endpoint = std::string(directory) + "/printer";
    std::string program = besideThisProgram("vprinter");
    const char* argv[] = { program.c_str(), "serve", endpoint.c_str(), "--no-console", "--quiet", nullptr };
    if (posix_spawn(&printer, program.c_str(), nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
        fprintf(stderr, "cannot start %s\n", program.c_str());
        return false;
    }
    for (int attempt = 0; attempt < 500; ++attempt) {
        PortHandle port = openPort();
        if (port != nullptr) {
            ClosePort(port);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    fprintf(stderr, "the virtual printer at %s never opened\n", endpoint.c_str());
    return false;
}

void stopPrinter()
{
    if (printer <= 0) return;
    kill(printer, SIGTERM);
    waitpid(printer, nullptr, 0);
    unlink(endpoint.c_str());
    rmdir(endpoint.substr(0, endpoint.rfind('/')).c_str());
}

double rasterJobMs = 0;

void rasterJobThroughLibrary(benchmark::State& state)
{
    PortHandle port = openPort();
    if (port == nullptr) {
        state.SkipWithError("OpenPortA failed");
        return;
    }
    for (auto _ : state) {
        if (timedChunkedWrite(port, rasterJob, RASTER_JOB_SIZE) != WRITE_ALL_WRITTEN) {
            state.SkipWithError("the raster job was not written");
            break;
        }
    }
    ClosePort(port);
    state.SetBytesProcessed(state.iterations() * RASTER_JOB_SIZE);
}

double firstQueryMeanMs = 0;
double firstQueryMaxMs = 0;

void firstStatusQuery(benchmark::State& state)
{
    unsigned char record[VX_STATUS_LEVEL1_SIZE];
    double totalMs = 0;
    double maxMs = 0;
    for (auto _ : state) {
        PortHandle port = openPort();
        if (port == nullptr) {
            state.SkipWithError("OpenPortA failed");
            break;
        }
        auto start = std::chrono::steady_clock::now();
        VX_BOOL result = GetParsedStatusEx(port, record, VX_STATUS_LEVEL_1);
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        ClosePort(port);
        if (result == VX_FALSE) {
            state.SkipWithError("GetParsedStatusEx failed");
            break;
        }
        state.SetIterationTime(took.count() / 1000);
        totalMs += took.count();
        maxMs = std::max(maxMs, took.count());
    }
    if (state.iterations() > 0) {
        firstQueryMeanMs = totalMs / static_cast<double>(state.iterations());
        firstQueryMaxMs = maxMs;
    }
    state.counters["max_ms"] = maxMs;
}

BENCHMARK(rasterJobThroughLibrary)->Unit(benchmark::kMillisecond);
// Only the query is timed; the open and close around it are not.
BENCHMARK(firstStatusQuery)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Keeps the raster job's time per iteration beside the console report.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter()
        : ConsoleReporter(OO_Tabular)
    {
    }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0
                && run.run_name.function_name == "rasterJobThroughLibrary")
                rasterJobMs = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (!preparePayloads()) {
        fprintf(stderr, "cannot allocate the payloads\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (!startPrinter()) {
        stopPrinter();
        return 2;
    }
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    stopPrinter();

    if (rasterJobMs > 0)
        printf("raster job: %u bytes in %.2f ms (%.1f MB/s)\n", RASTER_JOB_SIZE, rasterJobMs,
            RASTER_JOB_SIZE / rasterJobMs / 1000);
    if (firstQueryMaxMs > 0)
        printf("first status query: mean %.3f ms, max %.3f ms, limit %.0f ms (max is %.2f%% of it)\n", firstQueryMeanMs,
            firstQueryMaxMs, FIRST_QUERY_LIMIT_MS, 100 * firstQueryMaxMs / FIRST_QUERY_LIMIT_MS);
    return 0;
}
