// The front page's HTTP server: cpp-httplib routes and answers requests, and
// this file bounds what a client can cost.
//
// Debian's cpp-httplib (0.11) gives each connection a worker that reads it
// with a time limit per read but none for the whole request, reads headers
// without a count, queues connections without a bound, sets SO_REUSEPORT so
// a second server can share the port, and stops only once every worker has
// finished reading. Four clients that trickle a header line now and then
// would hold every worker, and a flood of headers would grow without end. So
// one thread of our own accepts and gathers each request within the limits
// below, and httplib's routing runs on a few workers only for requests that
// are already whole, answering within a deadline.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include <httplib.h>

namespace vprinter {

class PageServer {
public:
    PageServer();
    // Stops at once: requests still being gathered are dropped, and answers
    // being written give up.
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Where the routes go.
    httplib::Server& routes();

    // Listens on HOST:PORT (PORT 0 picks a free port), alone: a port another
    // server holds is refused. False with a reason.
    bool listen(const std::string& host, uint16_t port, std::string* error);
    uint16_t port() const;
    // Starts serving on threads that take no signals.
    void start();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vprinter
