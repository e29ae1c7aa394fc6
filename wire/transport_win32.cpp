// Winsock: TCP on loopback only; there are no local socket files here.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <errno.h>

#include <algorithm>
#include <mutex>

#include "wire/transport.h"

namespace wire {

namespace {

bool startWinsock()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

// Waits for the socket to be ready; false when the deadline passed.
bool waitFor(SOCKET socket, bool forWriting, uint64_t deadlineMs)
{
    for (;;) {
        uint64_t now = monotonicMs();
        if (now >= deadlineMs) return false;
        uint64_t left = std::min<uint64_t>(deadlineMs - now, 60000);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval timeout;
        timeout.tv_sec = static_cast<long>(left / 1000);
        timeout.tv_usec = static_cast<long>(left % 1000) * 1000;
        // Ready or an error: either way the I/O call reports it.
        if (select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &timeout) != 0) return true;
    }
}

// A connect that gives up at the deadline. A failed one shows in the
// exception set, a made one in the write set.
int connectBy(SOCKET s, const sockaddr_in& address, uint64_t deadlineMs)
{
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
    int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) return code;
    for (;;) {
        uint64_t now = monotonicMs();
        if (now >= deadlineMs) return WSAETIMEDOUT;
        uint64_t left = std::min<uint64_t>(deadlineMs - now, 60000);
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval timeout;
        timeout.tv_sec = static_cast<long>(left / 1000);
        timeout.tv_usec = static_cast<long>(left % 1000) * 1000;
        int ready = select(0, nullptr, &writable, &failed, &timeout);
        if (ready == SOCKET_ERROR) return WSAGetLastError();
        if (ready == 0) continue;
        if (FD_ISSET(s, &writable)) return 0;
        int error = 0;
        int length = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        return error != 0 ? error : WSAECONNREFUSED;
    }
}

int posixError(int code)
{
    if (code == WSAECONNREFUSED) return ECONNREFUSED;
    return code == WSAETIMEDOUT ? ETIMEDOUT : EIO;
}

bool brokenConnection(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN || error == WSAENOTCONN;
}

} // namespace

uint64_t monotonicMs() { return GetTickCount64(); }

Socket connectEndpoint(const Endpoint& endpoint, uint64_t deadlineMs, std::string* error)
{
    if (endpoint.kind != Endpoint::Tcp) {
        errno = ENOENT;
        *error = "no printer at " + endpoint.path + ": local sockets are not used on Windows; use 127.0.0.1:PORT";
        return NO_SOCKET;
    }
    if (!startWinsock()) {
        errno = EIO;
        *error = "Winsock did not start";
        return NO_SOCKET;
    }
    // Not inherited: a program the caller starts must not keep the session.
    SOCKET s
        = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        errno = EIO;
        *error = "socket: error " + std::to_string(WSAGetLastError());
        return NO_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int code = connectBy(s, address, deadlineMs);
    if (code != 0) {
        closesocket(s);
        errno = posixError(code);
        *error = connectError(endpoint, errno, "error " + std::to_string(code));
        return NO_SOCKET;
    }
    BOOL one = TRUE;
    // Requests are small and wait for their replies.
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<Socket>(s);
}

void closeSocket(Socket socket)
{
    if (socket != NO_SOCKET) closesocket(static_cast<SOCKET>(socket));
}

IoResult sendAll(Socket socket, const uint8_t* bytes, size_t size, uint64_t deadlineMs)
{
    SOCKET s = static_cast<SOCKET>(socket);
    while (size > 0) {
        if (!waitFor(s, true, deadlineMs)) return IoResult::TimedOut;
        int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        int sent = send(s, reinterpret_cast<const char*>(bytes), chunk, 0);
        if (sent == SOCKET_ERROR) {
            int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
            return brokenConnection(error) ? IoResult::Closed : IoResult::Failed;
        }
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return IoResult::Done;
}

IoResult receiveAll(Socket socket, uint8_t* bytes, size_t size, uint64_t deadlineMs)
{
    SOCKET s = static_cast<SOCKET>(socket);
    while (size > 0) {
        if (!waitFor(s, false, deadlineMs)) return IoResult::TimedOut;
        int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        int got = recv(s, reinterpret_cast<char*>(bytes), chunk, 0);
        if (got == 0) return IoResult::Closed;
        if (got == SOCKET_ERROR) {
            int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
            return brokenConnection(error) ? IoResult::Closed : IoResult::Failed;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return IoResult::Done;
}

} // namespace wire
