#include "vprinter/page_listen.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vprinter {

namespace {

// Port 0 asks for a port free in every family; another program may take one
// family's between our binds, so a few ports are tried.
const int FREE_PORT_TRIES = 16;

struct Place {
    sockaddr_storage address = {};
    socklen_t size = 0;
    // Added to guard the port's other loopback family: a system without
    // that family has nobody who could listen there either.
    bool guard = false;
};

void setPort(Place& place, uint16_t port)
{
    if (place.address.ss_family == AF_INET) reinterpret_cast<sockaddr_in*>(&place.address)->sin_port = htons(port);
    if (place.address.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&place.address)->sin6_port = htons(port);
}

bool samePlace(const Place& a, const Place& b)
{
    return a.size == b.size && memcmp(&a.address, &b.address, a.size) == 0;
}

// The family's loopback address, or its wildcard that takes it in, is there.
bool covers(const std::vector<Place>& places, int family)
{
    for (const Place& place : places) {
        if (place.address.ss_family != family) continue;
        if (family == AF_INET) {
            uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(&place.address)->sin_addr.s_addr);
            if (ip == INADDR_LOOPBACK || ip == INADDR_ANY) return true;
        } else {
            const in6_addr& ip = reinterpret_cast<const sockaddr_in6*>(&place.address)->sin6_addr;
            if (IN6_IS_ADDR_LOOPBACK(&ip) || IN6_IS_ADDR_UNSPECIFIED(&ip)) return true;
        }
    }
    return false;
}

bool resolve(const std::string& host, bool loopback, std::vector<Place>* places, std::string* error)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), "0", &hints, &found);
    if (status != 0) {
        *error = gai_strerror(status);
        return false;
    }
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        Place place;
        memcpy(&place.address, a->ai_addr, a->ai_addrlen);
        place.size = a->ai_addrlen;
        bool seen = false;
        for (const Place& other : *places) seen = seen || samePlace(other, place);
        if (!seen) places->push_back(place);
    }
    freeaddrinfo(found);
    bool wildcard = host == "0.0.0.0" || host == "::";
    for (const char* guard : { "127.0.0.1", "::1" }) {
        Place place;
        place.guard = true;
        auto* in = reinterpret_cast<sockaddr_in*>(&place.address);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&place.address);
        if (inet_pton(AF_INET, guard, &in->sin_addr) == 1) {
            in->sin_family = AF_INET;
            place.size = sizeof *in;
        } else if (inet_pton(AF_INET6, guard, &in6->sin6_addr) == 1) {
            in6->sin6_family = AF_INET6;
            place.size = sizeof *in6;
        }
        if ((loopback || wildcard) && !covers(*places, place.address.ss_family)) places->push_back(place);
    }
    return true;
}

// -1 with a reason, or -2 when a guard's family is not there at all.
int listenOn(const Place& place, std::string* error)
{
    int fd = socket(place.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return place.guard && errno == EAFNOSUPPORT ? -2 : -1;
    // SO_REUSEADDR, not SO_REUSEPORT: a restarted printer gets its port back
    // at once, but nobody can listen beside it.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (place.address.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&place.address), place.size) == 0 && listen(fd, SOMAXCONN) == 0)
        return fd;
    int failure = errno;
    close(fd);
    if (place.guard && failure == EADDRNOTAVAIL) return -2;
    *error = failure == EADDRINUSE ? "the port is in use (by another printer's page?)" : strerror(failure);
    return -1;
}

uint16_t boundPort(int fd)
{
    sockaddr_storage bound = {};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

// All places on one port, or none; the first picks it when it is 0.
std::vector<int> listenAll(std::vector<Place>& places, uint16_t* port, std::string* error)
{
    std::vector<int> fds;
    for (Place& place : places) {
        setPort(place, *port);
        int fd = listenOn(place, error);
        if (fd == -2) continue;
        if (fd < 0) {
            for (int held : fds) close(held);
            return {};
        }
        if (*port == 0) *port = boundPort(fd);
        fds.push_back(fd);
    }
    return fds;
}

} // namespace

bool loopbackName(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

bool parseHttpAddress(const std::string& text, HttpAddress* address, std::string* error)
{
    size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        host.clear();
    }
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos
        || std::stoul(port) > 65535) {
        *error = "--http needs HOST:PORT, for example 127.0.0.1:8631 ([::1]:8631 for IPv6), not '" + text + "'";
        return false;
    }
    address->host = host;
    address->port = static_cast<uint16_t>(std::stoul(port));
    address->loopback = loopbackName(host);
    return true;
}

std::vector<int> listenSockets(const HttpAddress& address, uint16_t* port, std::string* error)
{
    std::vector<Place> places;
    if (!resolve(address.host, address.loopback, &places, error)) return {};
    for (int tries = 0; tries < (address.port == 0 ? FREE_PORT_TRIES : 1); ++tries) {
        *port = address.port;
        std::vector<int> fds = listenAll(places, port, error);
        if (!fds.empty() || address.port != 0) return fds;
    }
    return {};
}

void localAddressOf(int fd, std::string* address, uint16_t* port)
{
    sockaddr_storage local = {};
    socklen_t size = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    char text[INET6_ADDRSTRLEN] = "";
    *port = 0;
    if (local.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&local);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        *port = ntohs(in->sin_port);
    } else if (local.ss_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&local);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        *port = ntohs(in6->sin6_port);
    }
    *address = text;
}

} // namespace vprinter
