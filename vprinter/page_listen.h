// Where the front page listens: the address --http names, and the sockets
// that hold it. A page meant for this machine holds both loopback families
// of its port, so no other local user can listen on the one it left free and
// take a browser's request, secret and all.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace vprinter {

struct HttpAddress {
    std::string host;
    uint16_t port = 0;
    bool loopback = true;
};

// HOST:PORT, with an IPv6 host in brackets ([::1]:8631); PORT 0 picks a free
// port. False with a reason otherwise.
bool parseHttpAddress(const std::string& text, HttpAddress* address, std::string* error);

// A name or numeric address that only this machine reaches.
bool loopbackName(const std::string& host);

// Listening sockets for every address `address.host` resolves to and, for a
// loopback or wildcard host, for 127.0.0.1 and ::1 as well, all on one port
// (a free one for port 0), each alone on its address. Empty with a reason
// when any of them cannot be had.
std::vector<int> listenSockets(const HttpAddress& address, uint16_t* port, std::string* error);

// The numeric address and port a connection came in on.
void localAddressOf(int fd, std::string* address, uint16_t* port);

} // namespace vprinter
