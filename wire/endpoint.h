// Where a virtual printer listens, as named by a port name: a filesystem path
// (a local socket there), or HOST:PORT with a loopback host (TCP).
#pragma once

#include <stdint.h>

#include <string>

namespace wire {

struct Endpoint {
    enum Kind { Local, Tcp } kind = Local;
    std::string path;
    std::string host;
    uint16_t port = 0;
};

// A name without '/' that holds a ':' is HOST:PORT (TCP), and must have a
// loopback host and a port number; anything else is a path (./a:1 is a file
// called a:1). Fails, with a reason, for an empty name, one that starts with
// '-', a HOST:PORT that is not a valid one, or a path too long for a socket
// address.
bool parseEndpoint(const std::string& name, Endpoint* endpoint, std::string* error);

// The text `vprinter serve` prints and a client can connect to.
std::string endpointText(const Endpoint& endpoint);

// The name of the lock that gives one process the port (see portlock.h):
// after the socket's device and inode, so that every name of one socket
// shares it, or for TCP after the port.
std::string lockName(const Endpoint& endpoint);

} // namespace wire
