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

namespace {

// The printer's address for a socket of its family; false when a path is too
// long for one.
bool addressOf(const Endpoint& endpoint, sockaddr_storage* address, socklen_t* size)
{
    *address = {};
    if (endpoint.kind == Endpoint::Tcp) {
        sockaddr_in* in = reinterpret_cast<sockaddr_in*>(address);
        in->sin_family = AF_INET;
        in->sin_port = htons(endpoint.port);
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        *size = sizeof *in;
        return true;
    }
    sockaddr_un* un = reinterpret_cast<sockaddr_un*>(address);
    if (endpoint.path.size() >= sizeof un->sun_path) return false;
    un->sun_family = AF_UNIX;
    memcpy(un->sun_path, endpoint.path.c_str(), endpoint.path.size() + 1);
    *size = sizeof *un;
    return true;
}

// A connect that gives up at the deadline with ETIMEDOUT. A local socket
// whose queue is full refuses at once (EAGAIN) rather than waiting, so the
// call is tried again until then; TCP waits for the handshake instead.
bool connectBy(int fd, const sockaddr_storage& address, socklen_t size, uint64_t deadlineMs)
{
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return true;
        if (errno == EAGAIN) {
            uint64_t now = monotonicMs();
            if (now >= deadlineMs) break;
            poll(nullptr, 0, static_cast<int>(std::min<uint64_t>(deadlineMs - now, 20)));
            continue;
        }
        if (errno != EINPROGRESS && errno != EINTR) return false;
        if (!waitFor(fd, POLLOUT, deadlineMs)) break;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
        errno = error;
        return error == 0;
    }
    errno = ETIMEDOUT;
    return false;
}

} // namespace

Socket connectEndpoint(const Endpoint& endpoint, uint64_t deadlineMs, std::string* error)
{
    sockaddr_storage address;
    socklen_t size = 0;
    if (!addressOf(endpoint, &address, &size)) {
        errno = ENAMETOOLONG;
        *error = "socket path too long";
        return NO_SOCKET;
    }
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + strerror(errno);
        return NO_SOCKET;
    }
    if (!connectBy(fd, address, size, deadlineMs)) {
        int saved = errno;
        *error = connectError(endpoint, saved, strerror(saved));
        close(fd);
        errno = saved;
        return NO_SOCKET;
    }
    int one = 1;
    // Requests are small and wait for their replies.
    if (endpoint.kind == Endpoint::Tcp) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
