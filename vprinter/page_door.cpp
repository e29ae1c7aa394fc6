#include "vprinter/page_door.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "vprinter/page_listen.h"
#include "wire/transport.h"

namespace vprinter {

namespace {

// How long a head may take to come in, and a refused client to read its
// answer and go.
const uint64_t HEAD_MS = 5000;
const uint64_t CLOSING_MS = 1000;
// New connections taken per wake, so a flood of them does not starve the
// heads already waiting.
const int ACCEPTS_PER_WAKE = 64;
const int SWEEP_MS = 100;
// epoll's tags for what is not a connection.
const uint64_t LISTENER_TAG = uint64_t(1) << 32;
const uint64_t WAKE_TAG = uint64_t(2) << 32;

struct Waiting {
    size_t listener = 0;
    sockaddr_storage peer = {};
    socklen_t size = 0;
    uint64_t since = 0;
    // Refused: its answer is sent, and what it still sends is read and
    // dropped until it goes, so the answer is not lost to a reset.
    bool closing = false;
};

} // namespace

struct PageDoor::State {
    std::vector<int> listeners;
    // When each listener stopped taking clients for want of descriptors, or 0.
    std::vector<uint64_t> pausedSince;
    // Connections still sending their head, at once; a new one pushes out
    // the oldest, so clients that trickle a byte now and then lock nobody out.
    size_t waitingLimit = 0;
    Judge judge;
    Admit admit;
    int epoll = -1;
    int wake = -1;
    std::map<int, Waiting> waiting;
    std::thread thread;

    void run();
    void acceptFrom(size_t listener);
    void look(int fd);
    void refuse(int fd, const PageAnswer& answer);
    void drain(int fd);
    void drop(int fd);
    bool dropOldest();
    void sweep();
    void watchListener(size_t listener, bool on);
};

void PageDoor::State::watchListener(size_t listener, bool on)
{
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.u64 = LISTENER_TAG | listener;
    epoll_ctl(epoll, on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listeners[listener], &event);
    pausedSince[listener] = on ? 0 : wire::monotonicMs();
}

void PageDoor::State::run()
{
    epoll_event events[64];
    for (;;) {
        int ready = epoll_wait(epoll, events, 64, SWEEP_MS);
        for (int i = 0; i < ready; ++i) {
            uint64_t tag = events[i].data.u64;
            if (tag == WAKE_TAG) return;
            if ((tag & LISTENER_TAG) != 0) {
                acceptFrom(static_cast<size_t>(tag & 0xffffffff));
            } else if (waiting.count(static_cast<int>(tag)) != 0) {
                look(static_cast<int>(tag));
            }
        }
        sweep();
    }
}

void PageDoor::State::acceptFrom(size_t listener)
{
    for (int taken = 0; taken < ACCEPTS_PER_WAKE; ++taken) {
        Waiting entry;
        entry.listener = listener;
        entry.size = sizeof entry.peer;
        int fd = accept4(
            listeners[listener], reinterpret_cast<sockaddr*>(&entry.peer), &entry.size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && errno == EINTR) continue;
        bool outOfFiles = fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM);
        // The oldest waiting client makes room; with none to go, the
        // listener rests until the next sweep rather than spin.
        if (outOfFiles && dropOldest()) continue;
        if (outOfFiles) watchListener(listener, false);
        if (fd < 0) return;
        if (waiting.size() >= waitingLimit) dropOldest();
        entry.since = wire::monotonicMs();
        waiting[fd] = entry;
        epoll_event event = {};
        event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        event.data.u64 = static_cast<uint64_t>(fd);
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
        // Its head may be in already.
        look(fd);
    }
}

// Peeks at what came, so the library still reads the request from its
// start; the edge-triggered watch wakes again only for new bytes.
void PageDoor::State::look(int fd)
{
    if (waiting[fd].closing) return drain(fd);
    std::string bytes(HEAD_LIMIT + 1, '\0');
    ssize_t got = recv(fd, bytes.data(), bytes.size(), MSG_PEEK);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) return drop(fd);
    bytes.resize(static_cast<size_t>(got));
    size_t end = headEnd(bytes);
    if (end == 0 && bytes.size() <= HEAD_LIMIT) return;
    PageRequest request;
    PageAnswer refusal = errorAnswer(431, "Request Header Fields Too Large");
    if (end == 0 || !readHead(bytes.substr(0, end), &request, &refusal)) return refuse(fd, refusal);
    localAddressOf(fd, &request.localAddress, &request.localPort);
    if (!judge(request, &refusal)) return refuse(fd, refusal);
    Waiting entry = waiting[fd];
    epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    waiting.erase(fd);
    admit(entry.listener, fd, entry.peer, entry.size);
}

// The answer is a few hundred bytes, far less than a socket's buffer.
void PageDoor::State::refuse(int fd, const PageAnswer& answer)
{
    std::string text = answerText(answer);
    send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(fd, SHUT_WR);
    waiting[fd].closing = true;
    waiting[fd].since = wire::monotonicMs();
    drain(fd);
}

void PageDoor::State::drain(int fd)
{
    char scratch[4096];
    ssize_t got;
    while ((got = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT)) > 0) { }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) drop(fd);
}

void PageDoor::State::drop(int fd)
{
    epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    waiting.erase(fd);
}

bool PageDoor::State::dropOldest()
{
    auto oldest = waiting.end();
    for (auto at = waiting.begin(); at != waiting.end(); ++at) {
        if (oldest == waiting.end() || at->second.since < oldest->second.since) oldest = at;
    }
    if (oldest == waiting.end()) return false;
    drop(oldest->first);
    return true;
}

void PageDoor::State::sweep()
{
    uint64_t now = wire::monotonicMs();
    std::vector<int> late;
    for (const auto& [fd, entry] : waiting) {
        if (now >= entry.since + (entry.closing ? CLOSING_MS : HEAD_MS)) late.push_back(fd);
    }
    for (int fd : late) drop(fd);
    for (size_t listener = 0; listener < listeners.size(); ++listener) {
        if (pausedSince[listener] != 0 && now >= pausedSince[listener] + SWEEP_MS) watchListener(listener, true);
    }
}

PageDoor::PageDoor()
    : state_(std::make_unique<State>())
{
}

PageDoor::~PageDoor() { stop(); }

void PageDoor::stop()
{
    State& s = *state_;
    if (s.thread.joinable()) {
        uint64_t one = 1;
        if (write(s.wake, &one, sizeof one) != sizeof one) perror("vprinter: the page's door");
        s.thread.join();
    }
    for (const auto& [fd, entry] : s.waiting) close(fd);
    for (int fd : s.listeners) close(fd);
    if (s.epoll >= 0) close(s.epoll);
    if (s.wake >= 0) close(s.wake);
    s.waiting.clear();
    s.listeners.clear();
    s.epoll = s.wake = -1;
}

bool PageDoor::start(
    const std::vector<int>& listeners, size_t waitingLimit, Judge judge, Admit admit, std::string* error)
{
    State& s = *state_;
    s.listeners = listeners;
    s.waitingLimit = waitingLimit;
    s.pausedSince.assign(listeners.size(), 0);
    s.judge = std::move(judge);
    s.admit = std::move(admit);
    s.epoll = epoll_create1(EPOLL_CLOEXEC);
    s.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.epoll < 0 || s.wake < 0) return *error = std::string("no epoll for the page: ") + strerror(errno), false;
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.u64 = WAKE_TAG;
    epoll_ctl(s.epoll, EPOLL_CTL_ADD, s.wake, &event);
    for (size_t listener = 0; listener < listeners.size(); ++listener) s.watchListener(listener, true);
    s.thread = std::thread([&s] { s.run(); });
    return true;
}

} // namespace vprinter
