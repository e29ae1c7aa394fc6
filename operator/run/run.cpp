#include "operator/run/run.h"

#include "operator/run/dialogue.h"
#include "operator/run/virtual_printer.h"

namespace vpop {

std::string otherSpelling(const std::string& endpoint)
{
    size_t slash = endpoint.rfind('/');
    if (slash != std::string::npos) return endpoint.substr(0, slash + 1) + "./" + endpoint.substr(slash + 1);
    const std::string loopback = "127.0.0.1:";
    if (endpoint.compare(0, loopback.size(), loopback) == 0) return "localhost:" + endpoint.substr(loopback.size());
    return "";
}

RunOutcome runOperator(
    const RunOptions& options, const std::vector<MenuChoice>& plan, const std::vector<MenuChoice>& extendedPlan)
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
    printer.startPaper();
    auto makeSession = [&](Suite suite, const std::vector<MenuChoice>& suitePlan) {
        Session session(printer.endpoint(), options.settings, suitePlan, suite);
        session.setOtherPortName(otherSpelling(printer.endpoint()));
        session.onTestStarted([&printer](const TestRecord& record) { printer.markTest(record); });
        session.onTestEnding([&printer](TestRecord& record) { printer.readPaper(record); });
        return session;
    };
    Answerer answerer;
    answerer.setPrinter = [&printer](const std::vector<std::string>& settings, std::string* error) {
        return printer.set(settings, error);
    };
    answerer.printerOutput = printer.outputFd();
    answerer.takePrinterOutput = [&printer](std::string_view chunk) { printer.takeOutput(chunk); };
    answerer.answerQuestion
        = [&printer](PrinterFact fact, bool* yes, std::string* error) { return printer.answer(fact, yes, error); };
    outcome = converseBoth(options, plan, extendedPlan, answerer, makeSession);
    outcome.portName = printer.endpoint();
    return outcome;
}

} // namespace vpop
