// The front page's HTTP server: Debian's libmicrohttpd reads requests and
// writes answers, a server made for hostile clients, with its limits set
// here: how many connections, how many from one address, how much memory
// each, how long one may idle. What it has no option for is added beside it:
// the door (PageDoor), which lets in only requests whose head the page takes
// and that carry the secret, a whole request's deadline (a client that
// trickles a byte a second is never idle), and the headers that keep the page
// out of other sites' frames. The library's own refusals, now only of what
// passed the door and then broke off or went wrong, carry none of ours: they
// are small fixed texts with nothing to click.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "vprinter/page_door.h"
#include "vprinter/page_gate.h"
#include "vprinter/page_listen.h"

namespace vprinter {

class PageServer {
public:
    using Handler = std::function<PageAnswer(const PageRequest&)>;

    PageServer();
    // Stops at once: requests still coming in are dropped, and answers
    // being written give up.
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Listens where `address` says (see listenSockets). False with a reason.
    bool listen(const HttpAddress& address, std::string* error);
    uint16_t port() const;
    // Serves every whole request that `judge` admits through `handler`, on
    // threads that take no signals, leaving `clientFiles` descriptors to the
    // printer's clients. False with a reason.
    bool start(Handler handler, PageDoor::Judge judge, size_t clientFiles, std::string* error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vprinter
