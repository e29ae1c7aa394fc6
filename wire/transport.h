// The byte pipe between a client and the printer: connect, send and receive
// with a deadline, close. One implementation per platform sits behind these
// functions; nothing above them names a system type.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "wire/endpoint.h"
#include "wire/protocol.h"

namespace wire {

typedef intptr_t Socket;
const Socket NO_SOCKET = -1;

// Milliseconds from a monotonic clock.
uint64_t monotonicMs();

// Connects to a listening printer by the deadline: a printer that is stopped
// with its queue of calls full takes none, and its callers must not wait for
// it for ever. On failure returns NO_SOCKET, sets errno as the system did
// (ETIMEDOUT at the deadline, ECONNREFUSED when nothing listens there), and
// puts a reason in *error.
Socket connectEndpoint(const Endpoint& endpoint, uint64_t deadlineMs, std::string* error);
void closeSocket(Socket socket);

// What a failed connect says, from its errno and the system's own words.
std::string connectError(const Endpoint& endpoint, int posixError, const std::string& detail);

enum class IoResult { Done, Closed, TimedOut, Failed };

IoResult sendAll(Socket socket, const uint8_t* bytes, size_t size, uint64_t deadlineMs);
IoResult receiveAll(Socket socket, uint8_t* bytes, size_t size, uint64_t deadlineMs);

// One request and its reply. Besides the transport outcomes, a reply that
// does not answer this request (wrong op or seq, malformed) counts as Failed.
IoResult exchange(Socket socket, const Frame& request, Frame* reply, uint64_t deadlineMs);

} // namespace wire
