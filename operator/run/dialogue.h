// The one dialogue with devbench, for a run against the virtual printer and
// a run by hand alike: it starts devbench, feeds the session every event,
// lets the prompts be answered by whoever the run says, and handles the end
// of devbench's output, its exit status and the end of the run once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "operator/run/run.h"
#include "operator/run/session.h"

namespace vpop {

// Who answers a prompt: the prompt table, which changes the virtual printer
// and types Enter, or the technician at the keyboard (the session is then a
// manual one, and devbench's output is shown as it comes).
struct Answerer {
    bool byHand = false;
    // Applies the control words a prompt asks for; false with `error` when the
    // printer refused or could not be reached.
    std::function<bool(const std::vector<std::string>&, std::string* error)> setPrinter;
    // The virtual printer's output (-1 without one), and who takes it.
    int printerOutput = -1;
    std::function<void(std::string_view)> takePrinterOutput;
    // Answers one of devbench-extended's yes/no questions from the printer's
    // own record: true for yes; false with `error` when it cannot be read.
    std::function<bool(PrinterFact, bool* yes, std::string* error)> answerQuestion;
};

// Until devbench leaves or the run breaks off. The outcome's records are the
// session's.
RunOutcome converse(const RunOptions& options, Session& session, const Answerer& answerer);

// devbench's dialogue and then devbench-extended's, each in a session that
// `makeSession` makes for its suite and plan (an empty plan is not run);
// the second runs only if the first ended well.
RunOutcome converseBoth(const RunOptions& options, const std::vector<MenuChoice>& plan,
    const std::vector<MenuChoice>& extendedPlan, const Answerer& answerer,
    const std::function<Session(Suite, const std::vector<MenuChoice>&)>& makeSession);

} // namespace vpop
