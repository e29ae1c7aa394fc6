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
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    size_t outSent = 0;
    Conversation conversation;
    bool dead = false;
};

class Connections {
public:
    Connections() = default;
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Listens at the endpoint and prints "listening on ..." with where a
    // client connects (the port chosen for TCP port 0).
    bool listen(const Endpoint& endpoint);
    // Where it listens, as it printed it.
    const std::string& address() const { return address_; }

    // Appends the listener's entry, then one per client.
    void addPollFds(std::vector<pollfd>& fds) const;
    // Accepts, reads and writes as poll found; `fds` starts at the
    // listener's entry that addPollFds made.
    void service(const pollfd* fds, size_t count);

    // The next whole frame from a client that waits for none of its own
    // answers; a malformed stream costs the client its connection.
    std::optional<Frame> nextFrame(Client& client);
    // Queues the frame and sends what the socket takes now.
    void send(Client& client, const Frame& frame);
    std::list<Client>& clients() { return clients_; }
    // Closes the connections of dead clients.
    void sweep();

private:
    bool listenLocal(const Endpoint& endpoint);
    bool listenTcp(const Endpoint& endpoint);
    void accept();
    void read(Client& client, bool hungUp);
    void write(Client& client);

    int listener_ = -1;
    // The socket file this printer made, to be removed when it stops.
    std::string socketPath_;
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    std::list<Client> clients_;
    std::string address_;
};

} // namespace vprinter
