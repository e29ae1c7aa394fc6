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

bool brokenConnection(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN || error == WSAENOTCONN;
}

} // namespace

uint64_t monotonicMs() { return GetTickCount64(); }

Socket connectEndpoint(const Endpoint& endpoint, std::string* error)
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
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int code = WSAGetLastError();
        closesocket(s);
        errno = code == WSAECONNREFUSED ? ECONNREFUSED : EIO;
        *error = "no printer at " + endpointText(endpoint) + ": error " + std::to_string(code);
        return NO_SOCKET;
    }
    BOOL one = TRUE;
    // Requests are small and wait for their replies.
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
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
