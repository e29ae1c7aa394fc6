// What the dialogue with devbench waits for, whoever answers its prompts:
// devbench's output and its standard error, the technician's keys, the virtual printer's output, a
// request to stop, or time passing. POSIX waits on them all in one poll;
// Windows, which cannot wait on a console and a pipe together, reads each in
// a thread of its own and queues what comes.
#pragma once

#include <memory>
#include <string>

#include "operator/platform/processes.h"

namespace vpop {

struct Event {
    // Output is devbench's standard output, Stderr its standard error.
    enum Kind { Quiet, Output, OutputEnded, Stderr, StderrEnded, Keys, KeysEnded, PrinterOutput, PrinterEnded, Stop };
    Kind kind = Quiet;
    std::string data;
};

struct EventSources {
    // Its standard output, and its standard error when piped.
    Child* devbench = nullptr;
    // The technician's keyboard (standard input).
    bool keys = false;
    // POSIX: readable when the operator is asked to stop (Windows: Ctrl-C).
    int stopFd = -1;
    // POSIX: the virtual printer's output, -1 without one.
    int printerOutput = -1;
};

class Events {
public:
    explicit Events(const EventSources& sources);
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;
    ~Events();

    // The next event; Quiet once `seconds` have passed (never when negative)
    // or when a wait was interrupted.
    Event next(double seconds);
    // devbench is to be stopped: nothing of it is read any more.
    void finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vpop
