// The printer's front page in a browser: its panel, with a control for every
// setting, and the paper it printed. The page's HTTP threads reach the
// printer only as `vprinter set/get` do, through its control endpoint, so the
// device stays on the server's one thread and a page change is exactly a
// `vprinter set`.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

namespace vprinter {

struct HttpAddress {
    std::string host;
    uint16_t port = 0;
    bool loopback = true;
};

// HOST:PORT, with an IPv6 host in brackets ([::1]:8631); PORT 0 picks a free
// port. False with a reason otherwise.
bool parseHttpAddress(const std::string& text, HttpAddress* address, std::string* error);

class FrontPage {
public:
    FrontPage();
    // Stops serving; requests in hand finish first.
    ~FrontPage();
    FrontPage(const FrontPage&) = delete;
    FrontPage& operator=(const FrontPage&) = delete;

    // Serves the page at `address` for the printer whose control endpoint
    // is `printer`, and prints "page at http://...". Warns on standard error
    // when the address is not loopback, since the page changes the printer.
    // False, with a message, when it cannot listen there.
    bool start(const HttpAddress& address, const std::string& printer);

private:
    struct Served;
    std::unique_ptr<Served> served_;
};

} // namespace vprinter
