#include "vprinter/page_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "vprinter/page_listen.h"
#include "wire/transport.h"

namespace vprinter {

namespace {

// Per listening address: connections at once (fewer if the open-file limit
// allows no more), from one client address, and the memory each may use for
// its request line, headers and answer's head.
const unsigned CONNECTIONS = 256;
const unsigned PER_CLIENT_ADDRESS = 128;
const size_t CONNECTION_MEMORY = 32 * 1024;
// Descriptors kept for the rest: the library's own, the page's calls to the
// printer, a capture file.
const size_t OTHER_FILES = 24;
// A client silent this long is dropped.
const unsigned IDLE_S = 2;
// How long a request may take to come in, and its answer to go out.
const uint64_t REQUEST_MS = 5000;
const uint64_t ANSWER_MS = 10000;
// Descriptors the page's door may hold for clients still sending a head.
const size_t DOOR_FILES = 64;
const int SWEEP_MS = 100;

int connectionFd(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    return info == nullptr ? -1 : info->connect_fd;
}

// Every connection's age, to cut those past their deadline: a client that
// trickles its body a byte a second is never idle. A cut is a shutdown of
// the socket: the library then sees its client gone and closes it, as its
// own. Only clients that showed the secret get this far (see PageDoor).
class Lifetimes {
public:
    void started(int fd);
    void requestIn(int fd);
    // Called before the library closes the descriptor, so a cut never
    // reaches a descriptor opened again since.
    void closed(int fd);
    void sweep();

private:
    struct Life {
        uint64_t since = 0;
        bool requestIn = false;
        bool cut = false;
    };

    std::mutex mutex_;
    std::map<int, Life> lives_;
};

void Lifetimes::started(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lives_[fd] = Life { wire::monotonicMs(), false, false };
}

void Lifetimes::requestIn(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto at = lives_.find(fd);
    if (at != lives_.end()) at->second.requestIn = true;
}

void Lifetimes::closed(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lives_.erase(fd);
}

void Lifetimes::sweep()
{
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t now = wire::monotonicMs();
    for (auto& [fd, life] : lives_) {
        uint64_t deadline = life.since + REQUEST_MS + (life.requestIn ? ANSWER_MS : 0);
        if (now < deadline || life.cut) continue;
        life.cut = true;
        shutdown(fd, SHUT_RDWR);
    }
}

// The descriptors the page may use: connections each of `listeners` may
// have, and clients the door may hold. The library must stop at its own
// limit before the process runs out of descriptors, and the door must leave
// some for the page's calls to the printer. So the page raises the open-file
// limit for its connections where it can, and takes fewer where it cannot.
struct PageFiles {
    unsigned connections = CONNECTIONS;
    size_t door = DOOR_FILES;
};

PageFiles pageFiles(size_t listeners, size_t clientFiles)
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return { 2, 2 };
    rlim_t wanted = clientFiles + OTHER_FILES + DOOR_FILES + CONNECTIONS * listeners;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return {};
    rlim_t kept = clientFiles + OTHER_FILES;
    rlim_t spare = limit.rlim_cur > kept ? limit.rlim_cur - kept : 0;
    rlim_t door = std::min<rlim_t>(DOOR_FILES, std::max<rlim_t>(2, spare / 3));
    rlim_t each = spare > door ? (spare - door) / listeners : 0;
    return { static_cast<unsigned>(std::max<rlim_t>(2, each)), static_cast<size_t>(door) };
}

// A request between the library's calls: its head, then its body.
struct Incoming {
    PageRequest request;
    bool tooLarge = false;
};

MHD_Result send(MHD_Connection* connection, const PageAnswer& answer)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    for (const auto& header : ANSWER_HEADERS) MHD_add_response_header(response, header[0], header[1]);
    if (!answer.contentType.empty()) MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
    MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result addHeader(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    static_cast<PageRequest*>(cls)->headers.emplace_back(key, value == nullptr ? "" : value);
    return MHD_YES;
}

// The request's head as the library read it; the door has judged it.
void readRequest(MHD_Connection* connection, const char* url, const char* method, PageRequest& request)
{
    request.method = method;
    request.path = url;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &addHeader, &request);
    const char* token = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
    request.tokenParameter = token == nullptr ? "" : token;
    localAddressOf(connectionFd(connection), &request.localAddress, &request.localPort);
}

// One listening address, served by its own thread of the library, which
// takes its connections from the door.
struct Listener {
    Listener(PageServer::Handler& handler, unsigned connections)
        : handler(handler)
        , connections(connections)
    {
    }

    PageServer::Handler& handler;
    unsigned connections;
    Lifetimes lifetimes;
    MHD_Daemon* daemon = nullptr;

    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
        const char* version, const char* upload, size_t* uploadSize, void** context);
    static void onConnection(
        void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code);
    static void onCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode code);
    bool serve();
};

MHD_Result Listener::onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
    const char* upload, size_t* uploadSize, void** context)
{
    Listener& listener = *static_cast<Listener*>(cls);
    auto* incoming = static_cast<Incoming*>(*context);
    if (incoming == nullptr) {
        *context = incoming = new Incoming;
        listener.lifetimes.requestIn(connectionFd(connection));
        readRequest(connection, url, method, incoming->request);
        return MHD_YES;
    }
    // The door let through no body longer than the page takes; the library
    // reads no more than the head stated.
    if (*uploadSize != 0) {
        std::string& body = incoming->request.body;
        body.append(upload, std::min(*uploadSize, BODY_LIMIT - std::min(body.size(), BODY_LIMIT)));
        *uploadSize = 0;
        return MHD_YES;
    }
    return send(connection, listener.handler(incoming->request));
}

void Listener::onConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code)
{
    Lifetimes& lifetimes = static_cast<Listener*>(cls)->lifetimes;
    int fd = connectionFd(connection);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        lifetimes.started(fd);
    } else {
        lifetimes.closed(fd);
    }
}

void Listener::onCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode)
{
    delete static_cast<Incoming*>(*context);
    *context = nullptr;
}

bool Listener::serve()
{
    // One thread waiting on epoll: thousands of idle connections cost it no
    // more than a few. The door hands it connections from its own thread.
    daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_USE_NO_LISTEN_SOCKET,
        0, nullptr, nullptr, &Listener::onRequest, this, MHD_OPTION_CONNECTION_LIMIT, connections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, std::min(PER_CLIENT_ADDRESS, connections),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, CONNECTION_MEMORY, MHD_OPTION_CONNECTION_TIMEOUT, IDLE_S,
        MHD_OPTION_NOTIFY_CONNECTION, &Listener::onConnection, this, MHD_OPTION_NOTIFY_COMPLETED,
        &Listener::onCompleted, this, MHD_OPTION_END);
    return daemon != nullptr;
}

} // namespace

struct PageServer::State {
    std::vector<int> fds;
    uint16_t port = 0;
    Handler handler;
    std::vector<std::unique_ptr<Listener>> listeners;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread sweeper;
    // Last: it stops first, so it hands nothing to a library stopped.
    PageDoor door;
    bool doorStarted = false;

    void sweep();
};

void PageServer::State::sweep()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, std::chrono::milliseconds(SWEEP_MS), [this] { return stopping; })) {
        for (const auto& listener : listeners) listener->lifetimes.sweep();
    }
}

PageServer::PageServer()
    : state_(std::make_unique<State>())
{
}

PageServer::~PageServer()
{
    State& s = *state_;
    // The door closes the listeners and the clients still at it; the
    // library closes its connections.
    s.door.stop();
    if (!s.doorStarted) {
        for (int fd : s.fds) close(fd);
    }
    for (const auto& listener : s.listeners) {
        if (listener->daemon != nullptr) MHD_stop_daemon(listener->daemon);
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopping = true;
    }
    s.wake.notify_all();
    if (s.sweeper.joinable()) s.sweeper.join();
}

uint16_t PageServer::port() const { return state_->port; }

bool PageServer::listen(const HttpAddress& address, std::string* error)
{
    state_->fds = listenSockets(address, &state_->port, error);
    return !state_->fds.empty();
}

bool PageServer::start(Handler handler, PageDoor::Judge judge, size_t clientFiles, std::string* error)
{
    State& s = *state_;
    s.handler = std::move(handler);
    PageFiles files = pageFiles(s.fds.size(), clientFiles);
    unsigned connections = files.connections;
    if (connections < CONNECTIONS) {
        fprintf(stderr, "vprinter: the open-file limit leaves room for %u page connections per address\n", connections);
    }
    // Signals are for the printer's own thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    bool served = true;
    for (size_t i = 0; i < s.fds.size(); ++i) {
        s.listeners.push_back(std::make_unique<Listener>(s.handler, connections));
        served = served && s.listeners.back()->serve();
    }
    // The library closes a connection it cannot take.
    auto admit = [&s](size_t listener, int fd, const sockaddr_storage& peer, socklen_t size) {
        MHD_add_connection(s.listeners[listener]->daemon, fd, reinterpret_cast<const sockaddr*>(&peer), size);
    };
    s.doorStarted = served;
    served = served && s.door.start(s.fds, files.door, std::move(judge), admit, error);
    s.sweeper = std::thread([&s] { s.sweep(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!served && error->empty()) *error = "libmicrohttpd would not serve it";
    return served;
}

} // namespace vprinter
