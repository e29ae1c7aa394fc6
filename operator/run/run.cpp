#include "operator/run/run.h"

#include "operator/run/dialogue.h"
#include "operator/run/virtual_printer.h"

namespace vpop {

RunOutcome runOperator(const RunOptions& options, const std::vector<MenuChoice>& plan)
{
    RunOutcome outcome;
    auto setupFailed = [&](const std::string& why) {
        outcome.setupFailed = true;
        outcome.interrupted = why == "interrupted";
        outcome.broken = why;
        return outcome;
    };
    if (!fitsAnswer(options.settings)) return setupFailed("the settings must be one line of at most 255 characters");
    VirtualPrinter printer(options);
    std::string why;
    if (!printer.start(&why)) return setupFailed(why);
    if (!fitsAnswer(printer.endpoint()))
        return setupFailed("the endpoint '" + printer.endpoint() + "' cannot be typed as a port name");
    if (options.verbose) {
        printf("operator: printer at %s%s\n", printer.endpoint().c_str(),
            options.settings.empty() ? "" : (", settings " + options.settings).c_str());
    }
    Session session(printer.endpoint(), options.settings, plan);
    printer.startPaper();
    session.onTestStarted([&printer](const TestRecord& record) { printer.markTest(record); });
    session.onTestEnding([&printer](TestRecord& record) { printer.readPaper(record); });
    Answerer answerer;
    answerer.setPrinter = [&printer](const std::vector<std::string>& settings, std::string* error) {
        return printer.set(settings, error);
    };
    answerer.printerOutput = printer.outputFd();
    answerer.takePrinterOutput = [&printer](std::string_view chunk) { printer.takeOutput(chunk); };
    outcome = converse(options, session, answerer);
    outcome.portName = printer.endpoint();
    return outcome;
}

} // namespace vpop
