#include "vprinter/server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <list>
#include <optional>

#include "wire/endpoint.h"
#include "vprinter/panel.h"
#include "wire/transport.h"

namespace vprinter {

namespace {

const size_t MAX_CLIENTS = 64;
const size_t READ_CHUNK = 64 * 1024;
// END_BLOCK never holds a client longer than this, whatever it asks for.
const uint32_t MAX_END_WAIT_MS = 60000;
// While data streams in, the panel line is refreshed at most this often.
const uint64_t PANEL_REFRESH_MS = 1000;

struct Fault {
    const char* name;
    bool takesNumber;
    void (*apply)(PrinterFaults&, uint32_t);
};

const Fault FAULTS[] = {
    { "slow-status", true, [](PrinterFaults& f, uint32_t ms) { f.slowStatusMs = ms; } },
    { "no-firmware-reply", false, [](PrinterFaults& f, uint32_t) { f.firmware.kind = FirmwareFault::NoReply; } },
    { "endless-name", false, [](PrinterFaults& f, uint32_t) { f.firmware.kind = FirmwareFault::EndlessName; } },
    { "trickle-name", true,
        [](PrinterFaults& f, uint32_t n) {
            f.firmware = { FirmwareFault::EndlessName, n };
        } },
};

struct Client {
    int fd = -1;
    uint8_t role = 0;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    size_t outSent = 0;
    // The request being answered when its answer has to wait.
    std::optional<Frame> pending;
    // Slow-status fault: no answer before this.
    uint64_t notBefore = 0;
    // END_BLOCK: the latest answer.
    uint64_t deadline = 0;
    // When to look at the pending request again if nothing else happens.
    uint64_t wakeAt = 0;
    bool dead = false;
};

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

class Server {
public:
    Server(const ServerOptions& options)
        : options_(options)
        , device_(options.device)
    {
        device_.setFirmwareFault(options.faults.firmware);
    }
    int run();

private:
    bool listenOn(const Endpoint& endpoint);
    void acceptClients();
    void readClient(Client& c);
    void writeClient(Client& c);
    void readConsole();
    void processInput(Client& c);
    void handle(Client& c, Frame request);
    bool complete(Client& c, uint64_t now);
    void reply(Client& c, const Frame& request, uint16_t status, std::vector<uint8_t> payload = {});
    void afterPanelChange();
    void showPanel(uint64_t now, bool force);
    uint64_t nextWake(uint64_t now) const;

    const ServerOptions& options_;
    Device device_;
    int listener_ = -1;
    std::string socketPath_;
    int captureFd_ = -1;
    bool consoleOpen_ = false;
    std::string consoleBuffer_;
    bool quit_ = false;
    bool panelChanged_ = false;
    std::list<Client> clients_;
    std::string panelShown_;
    std::string panelSignature_;
    uint64_t panelShownAt_ = 0;
};

bool Server::listenOn(const Endpoint& endpoint)
{
    if (endpoint.kind == Endpoint::Tcp) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(endpoint.port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0) {
            fprintf(stderr, "vprinter: cannot listen on %s: %s\n", endpointText(endpoint).c_str(), strerror(errno));
            return false;
        }
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        Endpoint actual = endpoint;
        actual.port = ntohs(address.sin_port);
        printf("listening on %s\n", endpointText(actual).c_str());
        return true;
    }
    struct stat info;
    if (lstat(endpoint.path.c_str(), &info) == 0) {
        // Never remove what is not ours to remove: only a socket nobody answers.
        if (!S_ISSOCK(info.st_mode)) {
            fprintf(stderr, "vprinter: %s exists and is not a socket\n", endpoint.path.c_str());
            return false;
        }
        std::string error;
        Socket probe = connectEndpoint(endpoint, &error);
        if (probe != NO_SOCKET) {
            closeSocket(probe);
            fprintf(stderr, "vprinter: a printer is already listening on %s\n", endpoint.path.c_str());
            return false;
        }
        unlink(endpoint.path.c_str());
    }
    sockaddr_un address = {};
    if (endpoint.path.size() >= sizeof address.sun_path) {
        fprintf(stderr, "vprinter: socket path too long: %s\n", endpoint.path.c_str());
        return false;
    }
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, endpoint.path.c_str(), endpoint.path.size() + 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fprintf(stderr, "vprinter: cannot listen on %s: %s\n", endpoint.path.c_str(), strerror(errno));
        return false;
    }
    socketPath_ = endpoint.path;
    if (listen(listener_, 16) != 0) {
        fprintf(stderr, "vprinter: cannot listen on %s: %s\n", endpoint.path.c_str(), strerror(errno));
        return false;
    }
    printf("listening on %s\n", endpoint.path.c_str());
    return true;
}

void Server::acceptClients()
{
    for (;;) {
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        if (clients_.size() >= MAX_CLIENTS) {
            close(fd);
            continue;
        }
        clients_.emplace_back();
        clients_.back().fd = fd;
    }
}

void Server::readClient(Client& c)
{
    // A client may have at most one frame buffered beyond the one in hand;
    // the rest waits in the socket, where the sender's own limits apply.
    if (c.in.size() >= HEADER_SIZE + MAX_PAYLOAD) return;
    size_t old = c.in.size();
    c.in.resize(old + READ_CHUNK);
    ssize_t got = recv(c.fd, c.in.data() + old, READ_CHUNK, 0);
    if (got <= 0) {
        c.in.resize(old);
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) c.dead = true;
        return;
    }
    c.in.resize(old + static_cast<size_t>(got));
}

void Server::writeClient(Client& c)
{
    while (c.outSent < c.out.size()) {
        ssize_t sent = send(c.fd, c.out.data() + c.outSent, c.out.size() - c.outSent, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) c.dead = true;
            return;
        }
        c.outSent += static_cast<size_t>(sent);
    }
    c.out.clear();
    c.outSent = 0;
}

void Server::processInput(Client& c)
{
    // One request at a time: the next is read once the last is answered.
    while (!c.dead && !c.pending && c.out.empty()) {
        Frame frame;
        size_t consumed = 0;
        DecodeResult result = decode(c.in.data(), c.in.size(), &frame, &consumed);
        if (result == DecodeResult::NeedMore) return;
        if (result == DecodeResult::Malformed) {
            c.dead = true;
            return;
        }
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(consumed));
        handle(c, std::move(frame));
    }
}

void Server::reply(Client& c, const Frame& request, uint16_t status, std::vector<uint8_t> payload)
{
    Frame answer;
    answer.op = static_cast<uint16_t>(request.op | OP_REPLY);
    answer.status = status;
    answer.seq = request.seq;
    answer.payload = std::move(payload);
    c.out = encode(answer);
    c.outSent = 0;
}

void Server::handle(Client& c, Frame request)
{
    const std::vector<uint8_t>& p = request.payload;
    if (request.status != 0 || (request.op & OP_REPLY) != 0) {
        c.dead = true;
        return;
    }
    if (c.role == 0) {
        if (request.op != OP_HELLO || p.size() != 1 || (p[0] != ROLE_PORT && p[0] != ROLE_CONTROL)) {
            c.dead = true;
            return;
        }
        if (p[0] == ROLE_PORT && !device_.reachable()) {
            reply(c, request, STATUS_UNREACHABLE);
            return;
        }
        c.role = p[0];
        const std::string& name = device_.options().name;
        reply(c, request, STATUS_OK, std::vector<uint8_t>(name.begin(), name.end()));
        return;
    }
    bool sizeOk = true;
    switch (request.op) {
    case OP_WRITE:
        break;
    case OP_RESET:
    case OP_ONLINE:
    case OP_GET:
        sizeOk = p.empty();
        break;
    case OP_READ:
        sizeOk = p.size() == 4;
        break;
    case OP_STATUS:
    case OP_BEGIN_BLOCK:
        sizeOk = p.size() == 4 && getU32(p.data()) <= LAYOUT_L1;
        break;
    case OP_END_BLOCK:
        sizeOk = p.size() == 8 && getU32(p.data()) <= LAYOUT_L1;
        break;
    case OP_SET:
        break;
    default:
        sizeOk = false;
    }
    bool control = request.op == OP_SET || request.op == OP_GET;
    if (!sizeOk || control != (c.role == ROLE_CONTROL)) {
        c.dead = true;
        return;
    }
    uint64_t now = monotonicMs();
    c.notBefore = now;
    if (request.op == OP_STATUS || request.op == OP_ONLINE || request.op == OP_BEGIN_BLOCK) {
        c.notBefore = now + options_.faults.slowStatusMs;
    }
    if (request.op == OP_END_BLOCK) {
        device_.endBlock(now);
        c.deadline = now + std::min(getU32(p.data() + 4), MAX_END_WAIT_MS);
    }
    c.pending = std::move(request);
    if (complete(c, now)) c.pending.reset();
}

// Answers the pending request if it can be answered now.
bool Server::complete(Client& c, uint64_t now)
{
    const Frame& request = *c.pending;
    const std::vector<uint8_t>& p = request.payload;
    if (now < c.notBefore) {
        c.wakeAt = c.notBefore;
        return false;
    }
    if (c.role == ROLE_PORT && !device_.reachable()) {
        // Sessions are dropped when the printer goes away; this one is on its way out.
        c.dead = true;
        return true;
    }
    switch (request.op) {
    case OP_WRITE: {
        size_t accepted = device_.receive(p.data(), p.size(), now);
        // A slow printer holds the answer until it can take a byte, rather
        // than have the host spin; an offline one answers 0 at once.
        if (accepted == 0 && !p.empty() && device_.takesData() && device_.nextAcceptAt(now) > now) {
            c.wakeAt = device_.nextAcceptAt(now);
            return false;
        }
        if (captureFd_ >= 0 && accepted > 0) {
            ssize_t ignored = write(captureFd_, p.data(), accepted);
            (void)ignored;
        }
        std::vector<uint8_t> count;
        putU32(count, static_cast<uint32_t>(accepted));
        reply(c, request, STATUS_OK, count);
        return true;
    }
    case OP_READ: {
        std::vector<uint8_t> bytes(std::min<size_t>(getU32(p.data()), MAX_PAYLOAD));
        bytes.resize(device_.takeReply(bytes.data(), bytes.size(), now));
        reply(c, request, STATUS_OK, bytes);
        return true;
    }
    case OP_RESET:
        device_.reset();
        reply(c, request, STATUS_OK);
        return true;
    case OP_ONLINE: {
        std::vector<uint8_t> flag;
        putU32(flag, device_.offline() ? 0 : 1);
        reply(c, request, STATUS_OK, flag);
        return true;
    }
    case OP_STATUS:
        reply(c, request, STATUS_OK, device_.record(static_cast<Layout>(getU32(p.data()))));
        return true;
    case OP_BEGIN_BLOCK:
        device_.beginBlock();
        reply(c, request, STATUS_OK, device_.record(static_cast<Layout>(getU32(p.data()))));
        return true;
    case OP_END_BLOCK:
        if (device_.jobState(now) == JobState::Printing) {
            if (now < c.deadline) {
                c.wakeAt = std::min(device_.jobDoneAt(), c.deadline);
                return false;
            }
            reply(c, request, STATUS_TIMED_OUT);
            return true;
        }
        reply(c, request, STATUS_OK, device_.record(static_cast<Layout>(getU32(p.data()))));
        return true;
    case OP_SET: {
        std::string error;
        std::string text(p.begin(), p.end());
        if (!applyAssignments(device_, splitWords(text), &error)) {
            reply(c, request, STATUS_REFUSED, std::vector<uint8_t>(error.begin(), error.end()));
            return true;
        }
        reply(c, request, STATUS_OK);
        afterPanelChange();
        return true;
    }
    case OP_GET: {
        std::string text;
        for (const auto& [key, value] : describeState(device_)) text += key + "=" + value + "\n";
        reply(c, request, STATUS_OK, std::vector<uint8_t>(text.begin(), text.end()));
        return true;
    }
    }
    c.dead = true;
    return true;
}

void Server::afterPanelChange()
{
    panelChanged_ = true;
    // An unplugged or switched-off printer has no sessions: the host's next
    // call fails, and a later one opens a fresh session once it is back.
    if (device_.reachable()) return;
    for (Client& c : clients_) {
        if (c.role == ROLE_PORT) c.dead = true;
    }
}

void Server::readConsole()
{
    char buffer[4096];
    ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        if (got == 0 || errno != EINTR) quit_ = true;
        return;
    }
    consoleBuffer_.append(buffer, static_cast<size_t>(got));
    size_t end;
    while (!quit_ && (end = consoleBuffer_.find('\n')) != std::string::npos) {
        std::string line = consoleBuffer_.substr(0, end);
        consoleBuffer_.erase(0, end + 1);
        std::string text = consoleLine(device_, line, &quit_);
        fputs(text.c_str(), stdout);
        afterPanelChange();
    }
    // A line without end that no longer fits is not a command anyone typed.
    if (consoleBuffer_.size() > sizeof buffer) consoleBuffer_.clear();
    fflush(stdout);
}

void Server::showPanel(uint64_t now, bool force)
{
    if (options_.quiet) return;
    std::string signature;
    for (const auto& [key, value] : describeState(device_)) {
        if (key != "bytes") signature += key + "=" + value + " ";
    }
    std::string line = stateLine(device_);
    if (line == panelShown_) return;
    if (!force && signature == panelSignature_ && now < panelShownAt_ + PANEL_REFRESH_MS) return;
    printf("%s\n", line.c_str());
    fflush(stdout);
    panelShown_ = line;
    panelSignature_ = signature;
    panelShownAt_ = now;
}

uint64_t Server::nextWake(uint64_t now) const
{
    uint64_t wake = now + 60000;
    for (const Client& c : clients_) {
        if (c.pending) wake = std::min(wake, c.wakeAt);
    }
    if (!options_.quiet && stateLine(device_) != panelShown_) wake = std::min(wake, panelShownAt_ + PANEL_REFRESH_MS);
    return std::max(wake, now);
}

int Server::run()
{
    Endpoint endpoint;
    std::string error;
    if (!parseEndpoint(options_.endpoint, &endpoint, &error)) {
        fprintf(stderr, "vprinter: %s\n", error.c_str());
        return 2;
    }
    if (!options_.capturePath.empty()) {
        captureFd_ = open(options_.capturePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (captureFd_ < 0) {
            fprintf(stderr, "vprinter: cannot open %s: %s\n", options_.capturePath.c_str(), strerror(errno));
            return 2;
        }
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        fprintf(stderr, "vprinter: pipe: %s\n", strerror(errno));
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    bool listening = listenOn(endpoint);
    fflush(stdout);
    if (!listening) {
        if (listener_ >= 0) close(listener_);
        return 2;
    }
    setNonBlocking(listener_);
    consoleOpen_ = options_.console;
    showPanel(monotonicMs(), true);

    while (!quit_) {
        uint64_t now = monotonicMs();
        std::vector<pollfd> fds;
        fds.push_back({ signalPipe[0], POLLIN, 0 });
        fds.push_back({ listener_, POLLIN, 0 });
        fds.push_back({ consoleOpen_ ? STDIN_FILENO : -1, POLLIN, 0 });
        for (Client& c : clients_) {
            short events = 0;
            if (!c.pending && c.in.size() < HEADER_SIZE + MAX_PAYLOAD) events |= POLLIN;
            if (!c.out.empty()) events |= POLLOUT;
            fds.push_back({ c.fd, events, 0 });
        }
        int timeout = static_cast<int>(nextWake(now) - now);
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;

        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) acceptClients();
        if (fds[2].revents != 0) readConsole();
        size_t i = 3;
        for (Client& c : clients_) {
            // Clients accepted in this round have no entry yet.
            if (i >= fds.size()) break;
            short revents = fds[i++].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR)) readClient(c);
            if (revents & POLLOUT) writeClient(c);
        }
        now = monotonicMs();
        // A change made by one client (or the console) can settle what another
        // is waiting for, so go round again until nothing changes.
        do {
            panelChanged_ = false;
            for (Client& c : clients_) {
                if (c.pending && !c.dead && complete(c, now)) c.pending.reset();
                processInput(c);
                if (!c.out.empty() && !c.dead) writeClient(c);
            }
        } while (panelChanged_);
        for (auto it = clients_.begin(); it != clients_.end();) {
            if (it->dead) {
                close(it->fd);
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
        showPanel(now, false);
    }

    for (Client& c : clients_) close(c.fd);
    close(listener_);
    if (!socketPath_.empty()) unlink(socketPath_.c_str());
    if (captureFd_ >= 0) close(captureFd_);
    return 0;
}

} // namespace

bool addPrinterFault(PrinterFaults* faults, const std::string& text, std::string* error)
{
    size_t equals = text.find('=');
    std::string name = text.substr(0, equals);
    for (const Fault& fault : FAULTS) {
        if (name != fault.name) continue;
        uint32_t number = 0;
        if (fault.takesNumber) {
            std::string digits = equals == std::string::npos ? "" : text.substr(equals + 1);
            if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
                *error = "fault " + name + " needs a number: " + name + "=N";
                return false;
            }
            number = static_cast<uint32_t>(std::stoul(digits));
        } else if (equals != std::string::npos) {
            *error = "fault " + name + " takes no value";
            return false;
        }
        fault.apply(*faults, number);
        return true;
    }
    *error = "unknown fault '" + name + "'";
    return false;
}

int serve(const ServerOptions& options)
{
    Server server(options);
    return server.run();
}

} // namespace vprinter
