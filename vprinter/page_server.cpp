#include "vprinter/page_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace vprinter {

namespace {

// Requests being gathered at once; one more pushes out the one that has been
// silent longest.
const size_t GATHERING_LIMIT = 64;
// A request's line, headers and the blank line after them: at most this
// many bytes and lines.
const size_t HEAD_LIMIT = 16 * 1024;
const size_t HEAD_LINES_LIMIT = 64;
// The page sends a few words; nothing it sends is longer.
const size_t BODY_LIMIT = 4096;
// A client silent this long, or not done after the whole deadline, is dropped.
const uint64_t IDLE_MS = 2000;
const uint64_t REQUEST_MS = 5000;
// Whole requests wait for a worker; past this many, one more is told to retry.
const size_t WORKERS = 4;
const size_t QUEUE_LIMIT = 32;
// How long an answer may take to write, and how often a writer looks up to
// see whether the server stops.
const uint64_t ANSWER_MS = 10000;
const int STOP_CHECK_MS = 100;
const size_t ACCEPTS_PER_ROUND = 256;
const uint64_t ACCEPT_PAUSE_MS = 100;

uint64_t nowMs()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void addressText(const sockaddr_storage& address, std::string& ip, int& port)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    }
    ip = text;
}

// The routing of httplib, for a request already read whole.
struct Router : httplib::Server {
    void answer(httplib::Stream& stream)
    {
        bool closed = true;
        process_request(stream, true, closed, nullptr);
    }
};

// A whole request in memory; the answer goes to the socket within a deadline
// and gives up when the server stops.
class GatheredStream : public httplib::Stream {
public:
    GatheredStream(int fd, const std::string& request, const std::atomic<bool>& stopping)
        : fd_(fd)
        , request_(request)
        , stopping_(stopping)
        , deadline_(nowMs() + ANSWER_MS)
    {
    }

    bool is_readable() const override { return read_ < request_.size(); }
    bool is_writable() const override { return !stopping_ && nowMs() < deadline_; }

    ssize_t read(char* ptr, size_t size) override
    {
        size_t count = std::min(size, request_.size() - read_);
        memcpy(ptr, request_.data() + read_, count);
        read_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        while (is_writable()) {
            ssize_t sent = send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) return sent;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
            pollfd p = { fd_, POLLOUT, 0 };
            poll(&p, 1, STOP_CHECK_MS);
        }
        return -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address = {};
        socklen_t size = sizeof address;
        getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        addressText(address, ip, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address = {};
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        addressText(address, ip, port);
    }

    socket_t socket() const override { return fd_; }

private:
    int fd_;
    const std::string& request_;
    size_t read_ = 0;
    const std::atomic<bool>& stopping_;
    uint64_t deadline_;
};

// A connection whose request is still coming in.
struct Gathering {
    int fd = -1;
    std::string bytes;
    uint64_t since = 0;
    uint64_t lastByte = 0;
    // Head and body together, once the head is in.
    size_t whole = 0;
};

struct Whole {
    int fd = -1;
    std::string request;
};

// A short answer from the gathering thread itself, sent if the socket takes
// it at once, and the connection closed.
void refuse(int fd, int status, const char* reason)
{
    std::string text = std::string(reason) + "\n";
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason
        + "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " + std::to_string(text.size())
        + "\r\n\r\n" + text;
    ssize_t ignored = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)ignored;
    close(fd);
}

bool headTooLarge(const std::string& bytes, size_t size)
{
    return size > HEAD_LIMIT
        || static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + size, '\n')) > HEAD_LINES_LIMIT;
}

// The value of a header in a head, or "" when it is not there.
std::string headerValue(const std::string& head, const char* name)
{
    size_t length = strlen(name);
    for (size_t at = head.find('\n'); at != std::string::npos && at + 1 < head.size(); at = head.find('\n', at + 1)) {
        const char* line = head.c_str() + at + 1;
        if (strncasecmp(line, name, length) != 0 || line[length] != ':') continue;
        size_t end = head.find_first_of("\r\n", at + 1);
        std::string value = head.substr(at + 1 + length + 1, end - (at + 1 + length + 1));
        size_t first = value.find_first_not_of(" \t");
        return first == std::string::npos ? "" : value.substr(first);
    }
    return "";
}

} // namespace

struct PageServer::State {
    Router router;
    int listener = -1;
    uint16_t port = 0;
    int wake[2] = { -1, -1 };
    std::atomic<bool> stopping { false };
    std::thread gatherer;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Whole> queue;
    std::vector<Gathering> gathering;
    uint64_t acceptAgainAt = 0;

    void gather();
    void accept(uint64_t now);
    // False when the connection is done with here: handed on, refused or gone.
    bool read(Gathering& g, uint64_t now);
    // The head is in: how long the whole request is, or 0 after a refusal.
    size_t measure(Gathering& g, size_t headEnd);
    void handOn(Gathering& g);
    void work();
};

void PageServer::State::gather()
{
    while (!stopping) {
        uint64_t now = nowMs();
        std::vector<pollfd> fds = { { wake[0], POLLIN, 0 }, { now >= acceptAgainAt ? listener : -1, POLLIN, 0 } };
        uint64_t wakeAt = acceptAgainAt > now ? std::min(now + IDLE_MS, acceptAgainAt) : now + IDLE_MS;
        for (const Gathering& g : gathering) {
            fds.push_back({ g.fd, POLLIN, 0 });
            wakeAt = std::min({ wakeAt, g.lastByte + IDLE_MS, g.since + REQUEST_MS });
        }
        poll(fds.data(), fds.size(), static_cast<int>(wakeAt > now ? wakeAt - now : 0));
        if (stopping) break;
        now = nowMs();
        std::vector<Gathering> kept;
        for (size_t i = 0; i < gathering.size(); ++i) {
            Gathering& g = gathering[i];
            bool keep = (fds[i + 2].revents == 0 || read(g, now));
            if (keep && (now >= g.lastByte + IDLE_MS || now >= g.since + REQUEST_MS)) {
                refuse(g.fd, 408, "Request Timeout");
                keep = false;
            }
            if (keep) kept.push_back(std::move(g));
        }
        gathering = std::move(kept);
        if (fds[1].revents != 0) accept(now);
    }
    for (const Gathering& g : gathering) close(g.fd);
    gathering.clear();
}

void PageServer::State::accept(uint64_t now)
{
    for (size_t round = 0; round < ACCEPTS_PER_ROUND; ++round) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        // Out of descriptors, the listener stays readable: wait a little
        // instead of spinning on it.
        if (fd < 0 && (errno == EMFILE || errno == ENFILE)) acceptAgainAt = now + ACCEPT_PAUSE_MS;
        if (fd < 0) return;
        if (gathering.size() >= GATHERING_LIMIT) {
            auto silent = std::min_element(gathering.begin(), gathering.end(),
                [](const Gathering& a, const Gathering& b) { return a.lastByte < b.lastByte; });
            refuse(silent->fd, 408, "Request Timeout");
            gathering.erase(silent);
        }
        Gathering g;
        g.fd = fd;
        g.since = now;
        g.lastByte = now;
        // A request usually comes with its connection: it is served at once.
        if (read(g, now)) gathering.push_back(std::move(g));
    }
}

bool PageServer::State::read(Gathering& g, uint64_t now)
{
    char buffer[4096];
    for (;;) {
        size_t room = (g.whole != 0 ? g.whole : HEAD_LIMIT + 1) - g.bytes.size();
        ssize_t got = recv(g.fd, buffer, std::min(room, sizeof buffer), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (got <= 0) {
            close(g.fd);
            return false;
        }
        g.lastByte = now;
        size_t before = g.bytes.size();
        g.bytes.append(buffer, static_cast<size_t>(got));
        if (g.whole == 0) {
            size_t end = g.bytes.find("\r\n\r\n", before >= 3 ? before - 3 : 0);
            if (headTooLarge(g.bytes, end == std::string::npos ? g.bytes.size() : end + 4)) {
                refuse(g.fd, 431, "Request Header Fields Too Large");
                return false;
            }
            if (end != std::string::npos && (g.whole = measure(g, end + 4)) == 0) return false;
        }
        if (g.whole != 0 && g.bytes.size() >= g.whole) {
            handOn(g);
            return false;
        }
    }
}

size_t PageServer::State::measure(Gathering& g, size_t headEnd)
{
    std::string head = g.bytes.substr(0, headEnd);
    if (!headerValue(head, "Transfer-Encoding").empty()) {
        refuse(g.fd, 411, "Length Required");
        return 0;
    }
    std::string length = headerValue(head, "Content-Length");
    if (length.empty()) return headEnd;
    if (length.size() > 9 || length.find_first_not_of("0123456789") != std::string::npos
        || std::stoul(length) > BODY_LIMIT) {
        refuse(g.fd, 413, "Payload Too Large");
        return 0;
    }
    return headEnd + std::stoul(length);
}

void PageServer::State::handOn(Gathering& g)
{
    g.bytes.resize(g.whole);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (queue.size() < QUEUE_LIMIT) {
            queue.push_back({ g.fd, std::move(g.bytes) });
            ready.notify_one();
            return;
        }
    }
    refuse(g.fd, 503, "Service Unavailable");
}

void PageServer::State::work()
{
    for (;;) {
        Whole whole;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping) return;
            whole = std::move(queue.front());
            queue.pop_front();
        }
        GatheredStream stream(whole.fd, whole.request, stopping);
        router.answer(stream);
        shutdown(whole.fd, SHUT_WR);
        close(whole.fd);
    }
}

PageServer::PageServer()
    : state_(std::make_unique<State>())
{
}

PageServer::~PageServer()
{
    State& s = *state_;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopping = true;
    }
    s.ready.notify_all();
    if (s.wake[1] >= 0) {
        char byte = 1;
        ssize_t ignored = ::write(s.wake[1], &byte, 1);
        (void)ignored;
    }
    if (s.gatherer.joinable()) s.gatherer.join();
    for (std::thread& worker : s.workers) worker.join();
    for (const Whole& whole : s.queue) close(whole.fd);
    for (int fd : { s.listener, s.wake[0], s.wake[1] }) {
        if (fd >= 0) close(fd);
    }
}

httplib::Server& PageServer::routes() { return state_->router; }

uint16_t PageServer::port() const { return state_->port; }

bool PageServer::listen(const std::string& host, uint16_t port, std::string* error)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        *error = gai_strerror(status);
        return false;
    }
    int fd = -1;
    *error = "no address to listen on";
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        // SO_REUSEADDR, not httplib's SO_REUSEPORT: a restarted printer gets
        // its port back at once, but no second printer can listen beside it.
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (a->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            *error = errno == EADDRINUSE ? "the port is in use (by another printer's page?)" : strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) return false;
    sockaddr_storage bound = {};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    std::string ip;
    int boundPort = 0;
    addressText(bound, ip, boundPort);
    state_->listener = fd;
    state_->port = static_cast<uint16_t>(boundPort);
    return true;
}

void PageServer::start()
{
    State* s = state_.get();
    if (pipe2(s->wake, O_CLOEXEC | O_NONBLOCK) != 0) s->wake[0] = s->wake[1] = -1;
    // Signals are for the printer's own thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    s->gatherer = std::thread([s] { s->gather(); });
    for (size_t i = 0; i < WORKERS; ++i) s->workers.emplace_back([s] { s->work(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace vprinter
