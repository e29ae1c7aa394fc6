// `vprinter serve`: one device, many clients, one thread. Its connections
// (connections.h) move frames in and out, its requests (requests.h) answer
// them from the device, and its console (console.h) feeds operator lines to
// the front panel and shows the panel line; the loop that ties them is here.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

#include "vprinter/device.h"
#include "vprinter/front_page.h"

namespace vprinter {

// Faults of the printer itself, for tests of how the suite copes.
struct PrinterFaults {
    // Status, online and block-start answers come this late.
    uint32_t slowStatusMs = 0;
    FirmwareFault firmware;
};

struct ServerOptions {
    std::string endpoint;
    DeviceOptions device;
    std::string capturePath;
    bool console = true;
    bool quiet = false;
    // Sessions (after HELLO) served at once; one more is refused with a reason.
    uint32_t maxClients = 500;
    PrinterFaults faults;
    // Where to serve the front page, if anywhere.
    std::optional<HttpAddress> http;
};

// Adds one --fault NAME[:N]; false with a reason for an unknown fault.
bool addPrinterFault(PrinterFaults* faults, const std::string& text, std::string* error);

// Runs until `quit` on the console or SIGINT, SIGTERM, SIGHUP or SIGUSR1;
// the end of standard input closes only the console. Returns the exit status: 0, 2 when the endpoint is unusable, 1
// when the server can no longer wait for its clients.
int serve(const ServerOptions& options);

} // namespace vprinter
