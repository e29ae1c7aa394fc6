// The virtual printer of a run: started for it (or one already running,
// given by its endpoint), its output drained, its state changed as a prompt
// asks, its paper read after each test, and everything it left removed.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/platform/processes.h"
#include "operator/run/run.h"
#include "operator/run/session.h"

namespace vpop {

class VirtualPrinter {
public:
    explicit VirtualPrinter(const RunOptions& options)
        : options_(options)
    {
    }
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;
    ~VirtualPrinter() { stop(); }

    // Starts `vprinter serve` and waits until it listens, or takes the
    // options' endpoint once a printer answers there ("no printer at ..."
    // when none does). "interrupted" when the stop fd said so meanwhile.
    bool start(std::string* error);
    const std::string& endpoint() const { return endpoint_; }
    // The printer's output (-1 for a printer not ours), to be drained with
    // takeOutput so it can never block on it.
    int outputFd() const { return printer_.output; }
    void takeOutput(std::string_view chunk);

    bool set(const std::vector<std::string>& settings, std::string* error);

    // Notes how many jobs the printer took before the first test.
    void startPaper();
    // Marks the paper where a test begins, so a person reading the printer's
    // page sees which jobs are whose.
    void markTest(const TestRecord& record);
    // The jobs the ended test left on the paper, judged against what it sent.
    void readPaper(TestRecord& record);

    // One of devbench-extended's yes/no questions, answered from what the
    // printer holds now and what it took since the test began.
    bool answer(PrinterFact fact, bool* yes, std::string* error);

    // Ends the printer we started and removes its folder, socket and lock file.
    void stop();

private:
    bool awaitListening(std::string* error);

    const RunOptions& options_;
    std::string endpoint_;
    std::string socketDir_;
    Child printer_;
    LineSplitter lines_;
    // The jobs the printer had taken when the last test ended; unknown when
    // its paper could not be read (paperError_ says why).
    std::optional<uint64_t> paperSeen_;
    std::string paperError_;
    // When the running test began: the printer's jobs so far; and its resets
    // when the test began or the last question was answered.
    uint64_t testJobs_ = 0;
    uint64_t resetsSeen_ = 0;
};

} // namespace vpop
