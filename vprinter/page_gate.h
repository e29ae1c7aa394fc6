// Who the front page answers: requests at its own address, with its secret,
// and changes only from its own page. Kept apart from the server library, as
// plain data in and a refusal out, so the rules can be tested and fuzzed.
//
// The page answers only the person who started the printer: every request
// carries a secret made at start and printed in the page's address, as a
// notebook server does, since the socket's file permissions do not reach a
// browser and any local user or web site can send requests to a port.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace vprinter {

// A request as the server library read it.
struct PageRequest {
    std::string method;
    // Without its query.
    std::string path;
    // Every header as sent, in order.
    std::vector<std::pair<std::string, std::string>> headers;
    // The query's token=, decoded.
    std::string tokenParameter;
    // The numeric address and port the connection came in on.
    std::string localAddress;
    uint16_t localPort = 0;
    std::string body;

    // The first header of that name, in any case, or "" when there is none.
    std::string header(const char* name) const;
    size_t headerCount(const char* name) const;
};

struct PageAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
};

PageAnswer jsonAnswer(int status, const std::string& json);
PageAnswer errorAnswer(int status, const std::string& message);

// JSON's string for any text.
std::string quoted(const std::string& text);

// What the page takes of a request: its line and headers at most this many
// bytes and lines, its body this many bytes (the page sends a few words).
inline constexpr size_t HEAD_LIMIT = 16 * 1024;
inline constexpr size_t HEAD_LINES_LIMIT = 64;
inline constexpr size_t BODY_LIMIT = 4096;

// On every answer, the page's and its refusals alike: nothing is cached or
// framed by another site. Each answer closes its connection: the page asks a
// few times a second, and a connection's deadline then covers one request.
extern const char* const ANSWER_HEADERS[6][2];

// A whole answer as it goes on the wire, for a refusal made before the
// server library has the connection.
std::string answerText(const PageAnswer& answer);

// Where a request's head ends (after its blank line), or 0 while it has not.
size_t headEnd(const std::string& bytes);

// The request's line and headers, up to its blank line, into `request`, with
// the query's token decoded. False, with the refusal, when the page takes no
// such request: a head too long or malformed, another HTTP version, a body
// of a length it does not read or not stated as one plain count.
bool readHead(const std::string& head, PageRequest* request, PageAnswer* refusal);

// The header the page's own requests carry the secret in (its address
// carries it as ?token=).
extern const char TOKEN_HEADER[];

// False, with the refusal, unless the request may reach the page's routes.
bool admitted(const PageRequest& request, const std::string& token, PageAnswer* refusal);

} // namespace vprinter
