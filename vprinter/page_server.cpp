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
// Requests still coming in at once; one more pushes out the oldest of them,
// so silent clients that trickle a byte now and then lock nobody out.
const size_t COMING_IN_LIMIT = 64;
// A request's line and headers: at most this many bytes and lines.
const size_t HEAD_LIMIT = 16 * 1024;
const size_t HEAD_LINES_LIMIT = 64;
// The page sends a few words; nothing it sends is longer.
const size_t BODY_LIMIT = 4096;
// How long a request may take to come in, and its answer to go out.
const uint64_t REQUEST_MS = 5000;
const uint64_t ANSWER_MS = 10000;
const int SWEEP_MS = 100;

// On every answer. Each answer closes its connection: the page asks a few
// times a second, and a connection's deadline then covers one request.
const char* const FIXED_HEADERS[][2] = { { "Cache-Control", "no-store" }, { "Referrer-Policy", "no-referrer" },
    { "X-Frame-Options", "DENY" }, { "Content-Security-Policy", "frame-ancestors 'none'" },
    { "X-Content-Type-Options", "nosniff" }, { "Connection", "close" } };

int connectionFd(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    return info == nullptr ? -1 : info->connect_fd;
}

// Every connection's age, to cut those past their deadline and the oldest
// of those still coming in when too many are. A cut is a shutdown of the
// socket: the library then sees its client gone and closes it, as its own.
// Those still coming in are held below the listener's own limit, so that the
// library, which stops accepting at that limit, always takes the next client.
class Lifetimes {
public:
    explicit Lifetimes(size_t comingInLimit)
        : comingInLimit_(comingInLimit)
    {
    }
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
    static void cut(int fd, Life& life);

    size_t comingInLimit_;
    std::mutex mutex_;
    std::map<int, Life> lives_;
};

void Lifetimes::cut(int fd, Life& life)
{
    if (life.cut) return;
    life.cut = true;
    shutdown(fd, SHUT_RDWR);
}

void Lifetimes::started(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t now = wire::monotonicMs();
    size_t comingIn = 0;
    std::map<int, Life>::iterator oldest = lives_.end();
    for (auto at = lives_.begin(); at != lives_.end(); ++at) {
        if (at->second.requestIn || at->second.cut) continue;
        ++comingIn;
        if (oldest == lives_.end() || at->second.since < oldest->second.since) oldest = at;
    }
    if (comingIn >= comingInLimit_) cut(oldest->first, oldest->second);
    lives_[fd] = Life { now, false, false };
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
        if (now >= deadline) cut(fd, life);
    }
}

// Connections each of `listeners` may have. The library must stop at its
// own limit before the process runs out of descriptors: out of them, with
// no connection of its own whose end it could wait for, it retries accept
// at once, for ever. So the page raises the open-file limit for its
// connections where it can, and takes fewer where it cannot.
unsigned connectionsEach(size_t listeners, size_t clientFiles)
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
    rlim_t wanted = clientFiles + OTHER_FILES + CONNECTIONS * listeners;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return CONNECTIONS;
    rlim_t room = limit.rlim_cur > clientFiles + OTHER_FILES ? limit.rlim_cur - clientFiles - OTHER_FILES : 0;
    return static_cast<unsigned>(std::max<rlim_t>(2, room / listeners));
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
    for (const auto& header : FIXED_HEADERS) MHD_add_response_header(response, header[0], header[1]);
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

void localAddress(int fd, PageRequest& request)
{
    sockaddr_storage address = {};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        request.localPort = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        request.localPort = ntohs(in6->sin6_port);
    }
    request.localAddress = text;
}

// The request's head into `request`; false with a refusal when it is more
// than the page takes.
bool readHead(
    MHD_Connection* connection, const char* url, const char* method, PageRequest& request, PageAnswer* refusal)
{
    request.method = method;
    request.path = url;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &addHeader, &request);
    const char* token = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
    request.tokenParameter = token == nullptr ? "" : token;
    localAddress(connectionFd(connection), request);
    size_t headBytes = request.method.size() + request.path.size();
    for (const auto& [key, value] : request.headers) headBytes += key.size() + value.size() + 4;
    std::string length = request.header("Content-Length");
    if (request.headers.size() > HEAD_LINES_LIMIT || headBytes > HEAD_LIMIT) {
        *refusal = errorAnswer(431, "Request Header Fields Too Large");
    } else if (request.headerCount("Transfer-Encoding") != 0) {
        *refusal = errorAnswer(411, "Length Required");
    } else if (length.size() > 9 || length.find_first_not_of("0123456789") != std::string::npos
        || (!length.empty() && std::stoul(length) > BODY_LIMIT)) {
        *refusal = errorAnswer(413, "Payload Too Large");
    } else {
        return true;
    }
    return false;
}

// One listening address, served by its own thread of the library.
struct Listener {
    Listener(PageServer::Handler& handler, int fd, unsigned connections)
        : handler(handler)
        , fd(fd)
        , connections(connections)
        , lifetimes(std::min<size_t>(COMING_IN_LIMIT, connections - 1))
    {
    }

    PageServer::Handler& handler;
    int fd;
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
        PageAnswer refusal;
        return readHead(connection, url, method, incoming->request, &refusal) ? MHD_YES : send(connection, refusal);
    }
    if (*uploadSize != 0) {
        std::string& body = incoming->request.body;
        incoming->tooLarge = incoming->tooLarge || body.size() + *uploadSize > BODY_LIMIT;
        if (!incoming->tooLarge) body.append(upload, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (incoming->tooLarge) return send(connection, errorAnswer(413, "Payload Too Large"));
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
    // more than a few.
    daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC, 0, nullptr, nullptr,
        &Listener::onRequest, this, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, connections,
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
    // The library closes its listeners and connections.
    for (const auto& listener : s.listeners) {
        if (listener->daemon != nullptr) MHD_stop_daemon(listener->daemon);
        if (listener->daemon == nullptr) close(listener->fd);
    }
    for (size_t i = s.listeners.size(); i < s.fds.size(); ++i) close(s.fds[i]);
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

bool PageServer::start(Handler handler, size_t clientFiles, std::string* error)
{
    State& s = *state_;
    s.handler = std::move(handler);
    unsigned connections = connectionsEach(s.fds.size(), clientFiles);
    if (connections < CONNECTIONS) {
        fprintf(stderr, "vprinter: the open-file limit leaves room for %u page connections per address\n", connections);
    }
    // Signals are for the printer's own thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    bool served = true;
    for (int fd : s.fds) {
        s.listeners.push_back(std::make_unique<Listener>(s.handler, fd, connections));
        served = served && s.listeners.back()->serve();
    }
    s.sweeper = std::thread([&s] { s.sweep(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!served) *error = "libmicrohttpd would not serve it";
    return served;
}

} // namespace vprinter
