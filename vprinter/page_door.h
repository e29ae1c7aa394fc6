// The front page's door: it takes every connection from the listening
// sockets and holds it, reading nothing, until its request's head is in.
// Then it refuses what the page would refuse (a head too long or framed in a
// way the page does not read, a request without the secret) with a whole
// answer of its own, and hands the rest to the server library. So a client
// without the secret never holds one of the library's places, and the
// library never sees a head it would answer badly (libmicrohttpd sends its
// own refusal of a malformed Content-Length head twice).
//
// Connections still sending their head are limited apart from the
// library's: the oldest goes for a new one, none waits longer than its
// deadline, and when descriptors run out the oldest goes too, so a new
// client always gets in and nothing spins.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vprinter/page_gate.h"

namespace vprinter {

class PageDoor {
public:
    // Whether a request whose head is in may pass; false with the refusal.
    using Judge = std::function<bool(const PageRequest& request, PageAnswer* refusal)>;
    // Takes a connection that passed, from listener number `listener`.
    using Admit = std::function<void(size_t listener, int fd, const sockaddr_storage& peer, socklen_t size)>;

    PageDoor();
    ~PageDoor();
    PageDoor(const PageDoor&) = delete;
    PageDoor& operator=(const PageDoor&) = delete;

    // Watches `listeners` (non-blocking, now the door's) on a thread of its
    // own, holding at most `waitingLimit` clients. False with a reason.
    bool start(const std::vector<int>& listeners, size_t waitingLimit, Judge judge, Admit admit, std::string* error);
    // Stops at once, closing the listeners and every connection it holds;
    // once started, nothing more is handed on.
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vprinter
