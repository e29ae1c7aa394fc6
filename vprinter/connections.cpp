#include "vprinter/connections.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "wire/transport.h"

namespace vprinter {

namespace {

const size_t READ_CHUNK = 64 * 1024;
const int BACKLOG = 64;
// A client that starts a frame, or connects, and then falls silent is
// dropped after this long: a real client sends a frame in one go.
const uint64_t FRAME_TIMEOUT_MS = 3000;
// How long accepting rests once descriptors ran out.
const uint64_t ACCEPT_REST_MS = 100;
// How long a second printer on a path waits for the first to take its call.
const uint64_t PROBE_MS = 2000;
// Descriptors kept for everything but the connections.
const size_t OTHER_FILES = 32;

// A client may have at most one frame buffered beyond the one in hand; the
// rest waits in the socket, where the sender's own limits apply.
bool bufferFull(const Client& client)
{
    return client.in.size() - client.taken >= wire::HEADER_SIZE + wire::MAX_PAYLOAD;
}

bool fail(const std::string& what, const wire::Endpoint& endpoint)
{
    fprintf(stderr, "vprinter: %s %s: %s\n", what.c_str(), wire::endpointText(endpoint).c_str(), strerror(errno));
    return false;
}

// A socket in a folder that other users can write to (/tmp) is a name any
// of them can take first, or serve a printer of their own on: said once, with
// where a folder of the user's own is.
void warnOfSharedFolder(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || (info.st_mode & S_IWOTH) == 0) return;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string own = runtime != nullptr && runtime[0] == '/' ? std::string(runtime) : "a folder only you can write to";
    fprintf(stderr,
        "vprinter: warning: other users can write to %s, so one of them could take this path first or serve "
        "their own printer there; a socket in %s is yours alone\n",
        folder.c_str(), own.c_str());
}

// A path is free, or freed, when nothing is there or only a socket that
// nobody listens on, as a printer that crashed leaves it. Anything else is
// not ours to remove.
bool claimPath(const wire::Endpoint& endpoint)
{
    const std::string& path = endpoint.path;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return true;
    if (!S_ISSOCK(info.st_mode)) {
        fprintf(stderr, "vprinter: %s exists and is not a socket\n", path.c_str());
        return false;
    }
    std::string error;
    wire::Socket probe = wire::connectEndpoint(endpoint, wire::monotonicMs() + PROBE_MS, &error);
    int refused = errno;
    if (probe != wire::NO_SOCKET) {
        wire::closeSocket(probe);
        std::string whose = info.st_uid == getuid() ? "" : " of user " + std::to_string(info.st_uid);
        fprintf(stderr, "vprinter: a printer%s is already listening on %s\n", whose.c_str(), path.c_str());
        return false;
    }
    // A printer that is stopped, or swamped, still holds its path.
    if (refused == ETIMEDOUT) {
        fprintf(stderr, "vprinter: a printer holds %s but takes no call (is it stopped?); use another path\n",
            path.c_str());
        return false;
    }
    if (refused != ECONNREFUSED && refused != ENOENT) {
        fprintf(stderr, "vprinter: %s\n", error.c_str());
        return false;
    }
    unlink(path.c_str());
    return true;
}

// Raises the soft open-file limit as far as the connections need and the
// hard limit allows; returns how many connections then fit.
size_t fitOpenFileLimit(size_t connections)
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return connections;
    rlim_t wanted = connections + OTHER_FILES;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return connections;
    size_t fit = limit.rlim_cur > OTHER_FILES ? limit.rlim_cur - OTHER_FILES : 1;
    fprintf(stderr, "vprinter: the open-file limit leaves room for %zu connections\n", fit);
    return fit;
}

} // namespace

Connections::Connections(size_t maxConnections)
    : maxConnections_(fitOpenFileLimit(maxConnections))
{
}

Connections::~Connections()
{
    for (Client& client : clients_) close(client.fd);
    if (listener_ >= 0) close(listener_);
    // The path may hold another printer's socket by now.
    struct stat info;
    if (!socketPath_.empty() && lstat(socketPath_.c_str(), &info) == 0 && info.st_dev == socketDevice_
        && info.st_ino == socketInode_) {
        unlink(socketPath_.c_str());
    }
}

bool Connections::listen(const wire::Endpoint& endpoint)
{
    bool listening = endpoint.kind == wire::Endpoint::Tcp ? listenTcp(endpoint) : listenLocal(endpoint);
    if (listening) fcntl(listener_, F_SETFL, fcntl(listener_, F_GETFL) | O_NONBLOCK);
    return listening;
}

bool Connections::listenTcp(const wire::Endpoint& endpoint)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener_, BACKLOG) != 0) {
        return fail("cannot listen on", endpoint);
    }
    socklen_t size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    wire::Endpoint actual = endpoint;
    actual.port = ntohs(address.sin_port);
    address_ = wire::endpointText(actual);
    return true;
}

bool Connections::listenLocal(const wire::Endpoint& endpoint)
{
    const std::string& path = endpoint.path;
    warnOfSharedFolder(path);
    if (!claimPath(endpoint)) return false;
    sockaddr_un address = {};
    if (path.size() >= sizeof address.sun_path) {
        fprintf(stderr, "vprinter: socket path too long: %s\n", path.c_str());
        return false;
    }
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail("cannot listen on", endpoint);
    }
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
        socketPath_ = path;
        socketDevice_ = info.st_dev;
        socketInode_ = info.st_ino;
    }
    if (::listen(listener_, BACKLOG) != 0) return fail("cannot listen on", endpoint);
    address_ = path;
    return true;
}

void Connections::addPollFds(std::vector<pollfd>& fds) const
{
    // Out of descriptors, a waiting caller keeps the listener readable:
    // asking again at once would only spin until one comes back.
    bool resting = acceptResumesAt_ != 0 && wire::monotonicMs() < acceptResumesAt_;
    fds.push_back({ listener_, static_cast<short>(resting ? 0 : POLLIN), 0 });
    for (const Client& client : clients_) {
        short events = 0;
        if (!client.conversation.pending && !bufferFull(client)) events |= POLLIN;
        if (!client.out.empty()) events |= POLLOUT;
        fds.push_back({ client.fd, events, 0 });
    }
}

void Connections::service(const pollfd* fds, size_t count)
{
    if (count == 0) return;
    size_t i = 1;
    for (Client& client : clients_) {
        if (i >= count) break;
        short revents = fds[i++].revents;
        if (revents & (POLLIN | POLLHUP | POLLERR)) read(client, (revents & (POLLHUP | POLLERR)) != 0);
        if (revents & POLLOUT) write(client);
    }
    // After the clients, so the new ones have no entry to be matched with.
    if (fds[0].revents & POLLIN) accept();
}

void Connections::accept()
{
    for (;;) {
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            bool outOfDescriptors = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
            acceptResumesAt_ = outOfDescriptors ? wire::monotonicMs() + ACCEPT_REST_MS : 0;
            return;
        }
        acceptResumesAt_ = 0;
        if (clients_.size() >= maxConnections_) {
            close(fd);
            continue;
        }
        clients_.emplace_back();
        clients_.back().fd = fd;
    }
}

void Connections::read(Client& client, bool hungUp)
{
    if (client.conversation.pending || bufferFull(client)) {
        // Nothing is read now, and a client that hung up would be reported
        // again at once, for ever: it can take no answer, so it goes.
        if (hungUp) client.dead = true;
        return;
    }
    // Frames handed on leave the buffer here, all at once, rather than one
    // by one from its front.
    client.in.erase(client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(client.taken));
    client.taken = 0;
    size_t old = client.in.size();
    client.in.resize(old + READ_CHUNK);
    ssize_t got = recv(client.fd, client.in.data() + old, READ_CHUNK, 0);
    if (got <= 0) {
        client.in.resize(old);
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) client.dead = true;
        return;
    }
    client.in.resize(old + static_cast<size_t>(got));
}

void Connections::write(Client& client)
{
    while (client.outSent < client.out.size()) {
        ssize_t sent
            = ::send(client.fd, client.out.data() + client.outSent, client.out.size() - client.outSent, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) client.dead = true;
            return;
        }
        client.outSent += static_cast<size_t>(sent);
    }
    client.out.clear();
    client.outSent = 0;
    if (client.closing) client.dead = true;
}

std::optional<wire::Frame> Connections::nextFrame(Client& client)
{
    // One request at a time: the next is read once the last is answered.
    if (client.dead || client.conversation.pending || !client.out.empty()) return std::nullopt;
    wire::Frame frame;
    size_t consumed = 0;
    wire::DecodeResult result
        = wire::decode(client.in.data() + client.taken, client.in.size() - client.taken, &frame, &consumed);
    if (result == wire::DecodeResult::NeedMore) return std::nullopt;
    if (result == wire::DecodeResult::Malformed) {
        client.dead = true;
        return std::nullopt;
    }
    client.taken += consumed;
    return frame;
}

void Connections::send(Client& client, const wire::Frame& frame, bool last)
{
    client.out = wire::encode(frame);
    client.outSent = 0;
    client.closing = last;
    write(client);
}

void Connections::expire(uint64_t now)
{
    for (Client& client : clients_) {
        bool waiting = !client.conversation.pending && client.out.empty()
            && (client.conversation.role == 0 || client.in.size() > client.taken);
        if (!waiting) {
            client.waitingSince = 0;
        } else if (client.waitingSince == 0) {
            client.waitingSince = now;
        } else if (now >= client.waitingSince + FRAME_TIMEOUT_MS) {
            client.dead = true;
        }
    }
}

uint64_t Connections::nextExpiry() const
{
    // A rest that is over needs no wake: the listener is polled again.
    uint64_t next = acceptResumesAt_ > wire::monotonicMs() ? acceptResumesAt_ : UINT64_MAX;
    for (const Client& client : clients_) {
        if (client.waitingSince != 0) next = std::min(next, client.waitingSince + FRAME_TIMEOUT_MS);
    }
    return next;
}

void Connections::sweep()
{
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (it->dead) {
            close(it->fd);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace vprinter
