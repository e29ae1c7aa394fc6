#include "vprinter/server.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "vprinter/connections.h"
#include "vprinter/console.h"
#include "vprinter/output.h"
#include "vprinter/requests.h"
#include "wire/endpoint.h"
#include "wire/fault_option.h"
#include "wire/transport.h"

namespace vprinter {

namespace {

// With nothing to wait for, poll still wakes this often.
const uint64_t IDLE_WAKE_MS = 60000;
// Connections that have not said HELLO yet, beyond the clients' places; the
// silent ones among them are dropped within seconds.
const size_t HANDSHAKE_ROOM = 256;

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

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
}

// A signal only wakes the loop, which then stops in its own time. A closed
// terminal (SIGHUP) or a stray SIGUSR1 would otherwise end the printer
// without removing its socket.
bool catchSignals()
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        fprintf(stderr, "vprinter: pipe: %s\n", strerror(errno));
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    for (int stop : { SIGINT, SIGTERM, SIGHUP, SIGUSR1 }) sigaction(stop, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

class Server {
public:
    Server(const ServerOptions& options, int captureFd)
        : maxClients_(options.maxClients)
        , http_(options.http)
        , firmware_(options.device.name)
        , device_(options.device)
        , requests_(device_, options.faults, captureFd)
        , console_(device_, output_, options.console, !options.quiet)
        , connections_(options.maxClients + HANDSHAKE_ROOM)
    {
        device_.setFirmwareFault(options.faults.firmware);
    }
    int run(const wire::Endpoint& endpoint);

private:
    bool waitAndService();
    void serveClients(uint64_t now);
    void serveClient(Client& client, uint64_t now);
    void deliver(Client& client, const Answer& answer);
    void afterStateChange();
    size_t sessions() const;
    uint64_t nextWake(uint64_t now);

    size_t maxClients_;
    std::optional<HttpAddress> http_;
    std::string firmware_;
    // Stops after the connections close, so a page request still waiting on
    // the printer fails at once instead of at its time limit.
    FrontPage frontPage_;
    Output output_;
    Device device_;
    Requests requests_;
    Console console_;
    Connections connections_;
    bool stopping_ = false;
};

int Server::run(const wire::Endpoint& endpoint)
{
    if (!connections_.listen(endpoint)) return 2;
    output_.line("listening on " + connections_.address());
    if (http_) {
        if (!frontPage_.start(*http_, connections_.address(), firmware_, connections_.maxConnections())) return 2;
        output_.line("page at " + frontPage_.url());
    }
    console_.showPanel(wire::monotonicMs(), true);
    while (!console_.quit() && !stopping_) {
        if (!waitAndService()) return 1;
        uint64_t now = wire::monotonicMs();
        serveClients(now);
        connections_.expire(now);
        for (const Client& client : connections_.clients()) {
            if (client.dead) requests_.ended(client.conversation);
        }
        connections_.sweep();
        console_.showPanel(now, false);
    }
    output_.flush();
    return 0;
}

// One wait for anything to happen, and the reading and writing it allows.
bool Server::waitAndService()
{
    uint64_t now = wire::monotonicMs();
    std::vector<pollfd> fds;
    fds.push_back({ signalPipe[0], POLLIN, 0 });
    fds.push_back({ console_.inputFd(), POLLIN, 0 });
    fds.push_back({ output_.waiting() ? output_.fd() : -1, POLLOUT, 0 });
    connections_.addPollFds(fds);
    int timeout = static_cast<int>(nextWake(now) - now);
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
        fprintf(stderr, "vprinter: poll: %s\n", strerror(errno));
        return false;
    }
    if (fds[0].revents != 0) {
        stopping_ = true;
        return true;
    }
    if (fds[1].revents != 0) console_.readInput();
    if (fds[2].revents != 0) output_.flush();
    connections_.service(fds.data() + 3, fds.size() - 3);
    return true;
}

void Server::serveClients(uint64_t now)
{
    // A change made by one client (or the console) can settle what another
    // is waiting for, so go round again until nothing changes.
    bool changed = console_.takeStateChange();
    do {
        if (changed) afterStateChange();
        for (Client& client : connections_.clients()) serveClient(client, now);
        changed = requests_.takeStateChange();
    } while (changed);
}

void Server::serveClient(Client& client, uint64_t now)
{
    if (client.dead) return;
    if (client.conversation.pending) deliver(client, requests_.resume(client.conversation, now));
    // Every whole request already in is answered now, up to one whose answer
    // waits or one the socket does not take at once.
    while (std::optional<wire::Frame> frame = connections_.nextFrame(client)) {
        if (client.conversation.role == 0 && sessions() >= maxClients_) {
            deliver(client, requests_.turnAway(*frame, maxClients_));
        } else {
            deliver(client, requests_.start(client.conversation, std::move(*frame), now));
        }
    }
}

size_t Server::sessions() const
{
    size_t count = 0;
    for (const Client& client : connections_.clients()) {
        if (!client.dead && client.conversation.role != 0) ++count;
    }
    return count;
}

void Server::deliver(Client& client, const Answer& answer)
{
    if (answer.kind == Answer::HangUp) client.dead = true;
    if (answer.kind == Answer::Reply) connections_.send(client, answer.reply, answer.last);
}

void Server::afterStateChange()
{
    // An unplugged or switched-off printer has no sessions: the host's next
    // call fails, and a later one opens a fresh session once it is back.
    if (device_.reachable()) return;
    for (Client& client : connections_.clients()) {
        if (client.conversation.role == wire::ROLE_PORT) client.dead = true;
    }
}

uint64_t Server::nextWake(uint64_t now)
{
    uint64_t wake = now + IDLE_WAKE_MS;
    for (const Client& client : connections_.clients()) {
        if (client.conversation.pending) wake = std::min(wake, client.conversation.wakeAt);
    }
    wake = std::min(wake, console_.nextRefresh(now));
    wake = std::min(wake, connections_.nextExpiry());
    return std::max(wake, now);
}

} // namespace

bool addPrinterFault(PrinterFaults* faults, const std::string& text, std::string* error)
{
    wire::FaultOption option = wire::splitFaultOption(text);
    std::string known;
    for (const Fault& fault : FAULTS) {
        known += std::string(known.empty() ? "" : ", ") + fault.name + (fault.takesNumber ? ":N" : "");
        if (option.name != fault.name) continue;
        uint32_t number = 0;
        if (fault.takesNumber) {
            const std::string& digits = option.number;
            if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
                *error = "fault " + option.name + " needs a number: --fault " + option.name + ":N";
                return false;
            }
            number = static_cast<uint32_t>(std::stoul(digits));
        } else if (option.hasNumber) {
            *error = "fault " + option.name + " takes no value";
            return false;
        }
        fault.apply(*faults, number);
        return true;
    }
    *error = "unknown fault '" + option.name + "' (known: " + known + ")";
    return false;
}

int serve(const ServerOptions& options)
{
    wire::Endpoint endpoint;
    std::string error;
    if (!wire::parseEndpoint(options.endpoint, &endpoint, &error)) {
        fprintf(stderr, "vprinter: %s\n", error.c_str());
        return 2;
    }
    int captureFd = -1;
    if (!options.capturePath.empty()) {
        captureFd = open(options.capturePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (captureFd < 0) {
            fprintf(stderr, "vprinter: cannot open %s: %s\n", options.capturePath.c_str(), strerror(errno));
            return 2;
        }
        // Standard error: scripts read the address from the first line of standard output.
        char* where = realpath(options.capturePath.c_str(), nullptr);
        fprintf(stderr, "vprinter: adding the data it takes to %s\n",
            where != nullptr ? where : options.capturePath.c_str());
        free(where);
    }
    int status = 2;
    if (catchSignals()) {
        Server server(options, captureFd);
        status = server.run(endpoint);
    }
    if (captureFd >= 0) close(captureFd);
    return status;
}

} // namespace vprinter
