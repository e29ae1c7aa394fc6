#include "vprinter/page_gate.h"

#include <openssl/crypto.h>
#include <stdio.h>
#include <strings.h>

#include "vprinter/page_listen.h"

namespace vprinter {

const char TOKEN_HEADER[] = "X-Vprinter-Token";

namespace {

const char NO_TOKEN_PAGE[] = "<!doctype html><meta charset=\"utf-8\"><title>vprinter</title>\n"
                             "<p>This printer's page opens only at the address <code>vprinter serve</code> printed "
                             "when it started: <code>page at http://&hellip;/?token=&hellip;</code>. Copy that "
                             "whole line's address.</p>\n";

// The Host a browser sends is the name in the address it was given. Only the
// address the connection came in on, or a loopback name when it came in on
// loopback, is ours: any other name (127.example.com, pointed at 127.0.0.1 by
// another site) is a site that wants to reach the printer.
bool hostAllowed(const PageRequest& request)
{
    if (request.headerCount("Host") != 1) return false;
    std::string host = request.header("Host");
    std::string port = ":" + std::to_string(request.localPort);
    if (host.size() <= port.size() || host.compare(host.size() - port.size(), port.size(), port) != 0) return false;
    std::string name = host.substr(0, host.size() - port.size());
    const std::string& local = request.localAddress;
    if (name == (local.find(':') == std::string::npos ? local : "[" + local + "]")) return true;
    // The local address is a numeric one here, so its prefix is exact.
    return loopbackName(local) && (name == "localhost" || name == "127.0.0.1" || name == "[::1]");
}

// Compared in constant time, so the answer's timing tells nothing of it.
bool tokenGiven(const PageRequest& request, const std::string& token)
{
    std::string given = request.headerCount(TOKEN_HEADER) != 0 ? request.header(TOKEN_HEADER) : request.tokenParameter;
    return !token.empty() && given.size() == token.size()
        && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

// A browser names the page that sends a change; only our own may. A
// request without Origin comes from no browser, and carries the secret.
bool originAllowed(const PageRequest& request)
{
    return request.headerCount("Origin") == 0 || request.header("Origin") == "http://" + request.header("Host");
}

} // namespace

std::string PageRequest::header(const char* name) const
{
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name) == 0) return value;
    }
    return "";
}

size_t PageRequest::headerCount(const char* name) const
{
    size_t count = 0;
    for (const auto& header : headers) count += strcasecmp(header.first.c_str(), name) == 0 ? 1 : 0;
    return count;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

PageAnswer jsonAnswer(int status, const std::string& json) { return { status, "application/json", json }; }

PageAnswer errorAnswer(int status, const std::string& message)
{
    return jsonAnswer(status, "{\"error\":" + quoted(message) + "}");
}

bool admitted(const PageRequest& request, const std::string& token, PageAnswer* refusal)
{
    if (!hostAllowed(request)) {
        *refusal = errorAnswer(403, "this page answers only at its own address");
    } else if (!tokenGiven(request, token)) {
        *refusal = { 403, "text/html; charset=utf-8", NO_TOKEN_PAGE };
    } else if (request.method != "GET" && request.method != "HEAD" && !originAllowed(request)) {
        *refusal = errorAnswer(403, "changes come only from the printer's own page");
    } else {
        return true;
    }
    return false;
}

} // namespace vprinter
