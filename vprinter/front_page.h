// The printer's front page in a browser: its panel, with a control for every
// setting, and the paper it printed. The page's HTTP threads reach the
// printer only as `vprinter set/get` do, through its control endpoint, so the
// device stays on the server's one thread and a page change is exactly a
// `vprinter set`.
//
// The page answers only the person who started the printer: every request
// carries a secret made at start and printed in the page's address, as a
// notebook server does, since the socket's file permissions do not reach a
// browser and any local user or web site can send requests to a port.
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
    // Stops serving at once.
    ~FrontPage();
    FrontPage(const FrontPage&) = delete;
    FrontPage& operator=(const FrontPage&) = delete;

    // Serves the page at `address` for the printer whose control endpoint
    // is `printer` and whose firmware calls itself `firmware`. Warns on
    // standard error when the address is not loopback. False, with a
    // message, when it cannot listen there.
    bool start(const HttpAddress& address, const std::string& printer, const std::string& firmware);
    // The page's address, with its secret.
    const std::string& url() const;

private:
    struct Served;
    std::unique_ptr<Served> served_;
};

} // namespace vprinter
