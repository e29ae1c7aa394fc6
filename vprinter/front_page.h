// The printer's front page in a browser: its panel, with a control for every
// setting, and the paper it printed. The page's HTTP threads reach the
// printer only as `vprinter set/get` do, through its control endpoint, so the
// device stays on the server's one thread and a page change is exactly a
// `vprinter set`.
// Who it answers is decided in page_gate.h.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "vprinter/page_listen.h"

namespace vprinter {

class FrontPage {
public:
    FrontPage();
    // Stops serving at once.
    ~FrontPage();
    FrontPage(const FrontPage&) = delete;
    FrontPage& operator=(const FrontPage&) = delete;

    // Serves the page at `address` for the printer whose control endpoint
    // is `printer` and whose firmware calls itself `firmware`, leaving
    // `clientFiles` descriptors to the printer's clients. Warns on standard
    // error when the address is not loopback. False, with a message, when it
    // cannot listen there.
    bool start(const HttpAddress& address, const std::string& printer, const std::string& firmware, size_t clientFiles);
    // The page's address, with its secret.
    const std::string& url() const;

private:
    struct Served;
    std::unique_ptr<Served> served_;
};

} // namespace vprinter
