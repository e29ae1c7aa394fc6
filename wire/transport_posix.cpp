#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "wire/transport.h"

namespace wire {

namespace {

#if defined(MSG_NOSIGNAL)
// A printer that went away must cost the caller a failed call, not SIGPIPE.
const int SEND_FLAGS = MSG_NOSIGNAL;
#else
const int SEND_FLAGS = 0;
#endif

// Waits for the socket to be ready; false when the deadline passed.
bool waitFor(int fd, short events, uint64_t deadlineMs)
{
    for (;;) {
        uint64_t now = monotonicMs();
        if (now >= deadlineMs) return false;
        pollfd p = { fd, events, 0 };
        int ready = poll(&p, 1, static_cast<int>(std::min<uint64_t>(deadlineMs - now, 60000)));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return true; // let the I/O call report it
    }
}

} // namespace

uint64_t monotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

Socket connectEndpoint(const Endpoint& endpoint, std::string* error)
{
    int fd;
    int result;
    if (endpoint.kind == Endpoint::Tcp) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            *error = std::string("socket: ") + strerror(errno);
            return NO_SOCKET;
        }
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(endpoint.port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int one = 1;
        // Requests are small and wait for their replies.
        if (result == 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    } else {
        sockaddr_un address = {};
        if (endpoint.path.size() >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            *error = "socket path too long";
            return NO_SOCKET;
        }
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            *error = std::string("socket: ") + strerror(errno);
            return NO_SOCKET;
        }
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, endpoint.path.c_str(), endpoint.path.size() + 1);
        result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (result != 0) {
        int saved = errno;
        *error = "no printer at " + endpointText(endpoint) + ": " + strerror(saved);
        close(fd);
        errno = saved;
        return NO_SOCKET;
    }
    return fd;
}

void closeSocket(Socket socket)
{
    if (socket != NO_SOCKET) close(static_cast<int>(socket));
}

IoResult sendAll(Socket socket, const uint8_t* bytes, size_t size, uint64_t deadlineMs)
{
    int fd = static_cast<int>(socket);
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, deadlineMs)) return IoResult::TimedOut;
        ssize_t sent = send(fd, bytes, size, SEND_FLAGS | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return errno == EPIPE || errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        }
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return IoResult::Done;
}

IoResult receiveAll(Socket socket, uint8_t* bytes, size_t size, uint64_t deadlineMs)
{
    int fd = static_cast<int>(socket);
    while (size > 0) {
        if (!waitFor(fd, POLLIN, deadlineMs)) return IoResult::TimedOut;
        ssize_t got = recv(fd, bytes, size, MSG_DONTWAIT);
        if (got == 0) return IoResult::Closed;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return IoResult::Done;
}

} // namespace wire
