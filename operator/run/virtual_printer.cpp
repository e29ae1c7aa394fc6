#include "operator/run/virtual_printer.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "operator/record/paper_check.h"
#include "operator/run/printer_control.h"
#include "operator/run/prompts.h"
#include "operator/run/run_folder.h"
#include "wire/control.h"
#include "wire/endpoint.h"
#include "wire/portlock.h"

namespace vpop {

namespace {

// The printer's own pace is a person's; the operator opens the cover at the
// NOW line at once, so fast jobs keep the run short. --printer-option may
// still ask for another pace: the printer takes the last value.
const std::vector<std::string> FAST_PRINTING = { "--print-ms", "100", "--print-speed", "4000000" };
// A person's pace: a job's feed and cut take their real time, and the link
// is slower than one call, so a write is taken in part.
const std::vector<std::string> PERSON_PRINTING = { "--rate", "40000" };

uint64_t number(const std::map<std::string, std::string>& state, const std::string& key)
{
    auto it = state.find(key);
    return it == state.end() ? 0 : strtoull(it->second.c_str(), nullptr, 10);
}

// How often `text` appears in `bytes`.
size_t occurrences(const std::vector<uint8_t>& bytes, std::string_view text)
{
    size_t count = 0;
    auto at = bytes.begin();
    while ((at = std::search(at, bytes.end(), text.begin(), text.end())) != bytes.end()) {
        ++count;
        at += static_cast<std::ptrdiff_t>(text.size());
    }
    return count;
}

} // namespace

bool VirtualPrinter::start(std::string* error)
{
    // A test run against no printer would blame the library for it.
    if (!options_.endpoint.empty()) {
        uint64_t jobs = 0;
        std::string why;
        if (!jobsSoFar(options_.endpoint, &jobs, &why)) {
            *error = why.rfind("no printer at ", 0) == 0 ? why : "no printer at " + options_.endpoint + ": " + why;
            return false;
        }
        endpoint_ = options_.endpoint;
        return true;
    }
    if (!makeRunFolder(&socketDir_, error)) return false;
    std::string program = options_.dir + "/vprinter";
    std::vector<std::string> args = { program, "serve", runSocket(socketDir_), "--no-console" };
    const std::vector<std::string>& pace = options_.paceMs > 0 ? PERSON_PRINTING : FAST_PRINTING;
    args.insert(args.end(), pace.begin(), pace.end());
    args.insert(args.end(), options_.printerOptions.begin(), options_.printerOptions.end());
    ChildOptions childOptions;
    childOptions.pipeOutput = true;
    if (!startChild(program, args, childOptions, &printer_, error)) return false;
    if (!awaitListening(error)) return false;
    // The library's lock of this printer's port is this run's to remove, as
    // nobody else was given the printer.
    wire::Endpoint endpoint;
    std::string ignored;
    if (wire::parseEndpoint(endpoint_, &endpoint, &ignored)) noteRunLock(socketDir_, wire::lockName(endpoint));
    return true;
}

bool VirtualPrinter::awaitListening(std::string* error)
{
    const std::string listening = "listening on ";
    double deadline = monotonicSeconds() + options_.timeout;
    for (;;) {
        double left = deadline - monotonicSeconds();
        if (left <= 0) {
            *error = "the virtual printer did not say it was listening in time";
            return false;
        }
        pollfd fds[2] = { { printer_.output, POLLIN, 0 }, { options_.stopFd, POLLIN, 0 } };
        int ready = poll(fds, 2, static_cast<int>(left * 1000) + 1);
        if (fds[1].revents != 0) {
            *error = "interrupted";
            return false;
        }
        if (ready <= 0) continue;
        char chunk[512];
        ssize_t n = read(printer_.output, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int status = -1;
            waitChild(printer_, 2, &status);
            *error = "the virtual printer ended before listening (status " + std::to_string(status) + ")";
            return false;
        }
        lines_.feed(std::string_view(chunk, static_cast<size_t>(n)), [&](std::string_view line, bool) {
            if (options_.verbose) printf("vprinter: %.*s\n", static_cast<int>(line.size()), line.data());
            if (line.substr(0, listening.size()) == listening) endpoint_ = line.substr(listening.size());
            return endpoint_.empty();
        });
        if (!endpoint_.empty()) return true;
    }
}

void VirtualPrinter::takeOutput(std::string_view chunk)
{
    lines_.feed(chunk, [this](std::string_view line, bool) {
        if (options_.verbose) printf("vprinter: %.*s\n", static_cast<int>(line.size()), line.data());
        return true;
    });
}

bool VirtualPrinter::set(const std::vector<std::string>& settings, std::string* error)
{
    return setPrinter(endpoint_, settings, error);
}

void VirtualPrinter::startPaper()
{
    uint64_t count = 0;
    paperSeen_.reset();
    if (jobsSoFar(endpoint_, &count, &paperError_)) paperSeen_ = count;
}

void VirtualPrinter::markTest(const TestRecord& record)
{
    std::string error;
    std::string text
        = testLabel(record.suite, record.number) + " " + std::string(suiteTest(record.suite, record.number).name);
    std::map<std::string, std::string> state;
    if (vprinterGet(endpoint_, &state, &error)) {
        testJobs_ = number(state, "jobs");
        resetsSeen_ = number(state, "resets");
    }
    // Only the page shows marks; the paper check does not need them.
    if (!wire::vprinterMark(endpoint_, text, &error) && options_.verbose)
        printf("operator: cannot mark the paper for %s: %s\n", text.c_str(), error.c_str());
}

// The jobs since the last reading are the ended test's, whole: the printer
// puts bytes on its paper as it takes them, and a test that sends asks the
// operator for something before it opens the port, which the operator does
// only once this reading is done. A paper that could not be read, before the
// run or since, fails the test that needs it.
void VirtualPrinter::readPaper(TestRecord& record)
{
    std::vector<PaperJob> jobs;
    std::string error = paperError_;
    if (paperSeen_ && readNewJobs(endpoint_, &*paperSeen_, &jobs, &error)) {
        judgePaper(record, std::move(jobs), "");
        return;
    }
    judgePaper(record, std::nullopt, error);
    // The next test's jobs start after whatever the printer holds now.
    startPaper();
}

bool VirtualPrinter::answer(PrinterFact fact, bool* yes, std::string* error)
{
    std::string text;
    if (!wire::vprinterGetText(endpoint_, &text, error)) return false;
    std::map<std::string, std::string> state;
    for (auto& [key, value] : wire::settingsFromText(text)) state[key] = value;
    uint64_t resets = number(state, "resets");
    std::vector<uint8_t> printed;
    for (const wire::JobSummary& job : wire::jobsFromText(text)) {
        std::vector<uint8_t> bytes;
        if (job.number <= testJobs_) continue;
        if (!wire::vprinterJob(endpoint_, job.number, &bytes, error)) return false;
        printed.insert(printed.end(), bytes.begin(), bytes.end());
    }
    switch (fact) {
    case PrinterFact::Reset:
        *yes = resets > resetsSeen_;
        break;
    case PrinterFact::UnpluggedLine:
        *yes = occurrences(printed, EXT_LINE_UNPLUGGED) > 0;
        break;
    case PrinterFact::OfflineLine:
        *yes = occurrences(printed, EXT_LINE_OFFLINE) > 0;
        break;
    case PrinterFact::OnceLine:
        *yes = occurrences(printed, EXT_LINE_ONCE) > 0;
        break;
    case PrinterFact::StillPrinting:
        *yes = state["job"] == "printing";
        break;
    case PrinterFact::RasterWhole:
        *yes = printed == rasterJobBytes();
        break;
    }
    resetsSeen_ = resets;
    return true;
}

void VirtualPrinter::stop()
{
    stopChild(printer_, 2);
    if (socketDir_.empty()) return;
    removeRunFolder(socketDir_);
    socketDir_.clear();
}

} // namespace vpop
