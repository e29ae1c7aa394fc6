// The printer's sockets: it listens, accepts clients, and moves bytes in and
// frames out. It knows frames, not what they ask for; each client carries the
// conversation that the request side keeps.
#pragma once

#include <poll.h>
#include <stdint.h>
#include <sys/types.h>

#include <list>
#include <optional>
#include <string>
#include <vector>

#include "vprinter/requests.h"
#include "wire/endpoint.h"
#include "wire/protocol.h"

namespace vprinter {

struct Client {
    int fd = -1;
    // Bytes received; the first `taken` of them are frames already handed on.
    std::vector<uint8_t> in;
    size_t taken = 0;
    std::vector<uint8_t> out;
    size_t outSent = 0;
    Conversation conversation;
    // Since when the server waits for the rest of a frame; 0 while it does not.
    uint64_t waitingSince = 0;
    // The connection ends once `out` is sent.
    bool closing = false;
    bool dead = false;
};

class Connections {
public:
    // At most this many connections at once, fewer if the open-file limit
    // allows no more; a connection beyond them is closed at once.
    explicit Connections(size_t maxConnections);
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Listens at the endpoint; false, with a message, when it cannot.
    bool listen(const wire::Endpoint& endpoint);
    // Where a client connects (the port chosen for TCP port 0).
    const std::string& address() const { return address_; }
    // How many connections it takes at most: the descriptors they may hold.
    size_t maxConnections() const { return maxConnections_; }

    // Appends the listener's entry, then one per client.
    void addPollFds(std::vector<pollfd>& fds) const;
    // Accepts, reads and writes as poll found; `fds` starts at the
    // listener's entry that addPollFds made.
    void service(const pollfd* fds, size_t count);

    // The next whole frame from a client that waits for none of its own
    // answers; a malformed stream costs the client its connection.
    std::optional<wire::Frame> nextFrame(Client& client);
    // Queues the frame and sends what the socket takes now; with `last`,
    // the connection ends once it is sent.
    void send(Client& client, const wire::Frame& frame, bool last);
    // Drops clients that have kept the server waiting for a frame too long.
    void expire(uint64_t now);
    // When expire() next has a client to drop, if nothing arrives.
    uint64_t nextExpiry() const;
    std::list<Client>& clients() { return clients_; }
    const std::list<Client>& clients() const { return clients_; }
    // Closes the connections of dead clients.
    void sweep();

private:
    bool listenLocal(const wire::Endpoint& endpoint);
    bool listenTcp(const wire::Endpoint& endpoint);
    void accept();
    void read(Client& client, bool hungUp);
    void write(Client& client);

    size_t maxConnections_;
    int listener_ = -1;
    // The socket file this printer made, to be removed when it stops.
    std::string socketPath_;
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    std::list<Client> clients_;
    std::string address_;
    // While descriptors ran out, when to try accepting again (0: at once).
    uint64_t acceptResumesAt_ = 0;
};

} // namespace vprinter
