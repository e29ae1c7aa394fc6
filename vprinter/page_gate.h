// Who the front page answers: requests at its own address, with its secret,
// and changes only from its own page. Kept apart from the server library, as
// plain data in and a refusal out, so the rules can be tested and fuzzed.
//
// The page answers only the person who started the printer: every request
// carries a secret made at start and printed in the page's address, as a
// notebook server does, since the socket's file permissions do not reach a
// browser and any local user or web site can send requests to a port.
#pragma once

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

// The header the page's own requests carry the secret in (its address
// carries it as ?token=).
extern const char TOKEN_HEADER[];

// False, with the refusal, unless the request may reach the page's routes.
bool admitted(const PageRequest& request, const std::string& token, PageAnswer* refusal);

} // namespace vprinter
