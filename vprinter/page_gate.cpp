#include "vprinter/page_gate.h"

#include <ctype.h>
#include <openssl/crypto.h>
#include <stdio.h>
#include <strings.h>

#include <algorithm>

#include "vprinter/page_listen.h"

namespace vprinter {

const char TOKEN_HEADER[] = "X-Vprinter-Token";

const char* const ANSWER_HEADERS[6][2] = { { "Cache-Control", "no-store" }, { "Referrer-Policy", "no-referrer" },
    { "X-Frame-Options", "DENY" }, { "Content-Security-Policy", "frame-ancestors 'none'" },
    { "X-Content-Type-Options", "nosniff" }, { "Connection", "close" } };

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

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Refused";
    }
}

std::string decoded(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && isxdigit(text[i + 1] & 0xff)
            && isxdigit(text[i + 2] & 0xff)) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The first token= of the query, as the server library reads it.
std::string tokenOf(const std::string& query)
{
    for (size_t at = 0; at <= query.size();) {
        size_t end = std::min(query.find('&', at), query.size());
        if (query.compare(at, 6, "token=") == 0 && end >= at + 6) return decoded(query.substr(at + 6, end - at - 6));
        at = end + 1;
    }
    return "";
}

// "METHOD TARGET HTTP/1.x", with single spaces.
bool readRequestLine(const std::string& line, PageRequest* request, PageAnswer* refusal)
{
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || first == 0 || second == first + 1
        || line.find(' ', second + 1) != std::string::npos)
        return *refusal = errorAnswer(400, "malformed request line"), false;
    std::string version = line.substr(second + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return *refusal = errorAnswer(505, "HTTP Version Not Supported"), false;
    request->method = line.substr(0, first);
    std::string target = line.substr(first + 1, second - first - 1);
    size_t query = target.find('?');
    request->path = target.substr(0, query);
    request->tokenParameter = query == std::string::npos ? "" : tokenOf(target.substr(query + 1));
    return true;
}

bool readHeaderLine(const std::string& line, PageRequest* request)
{
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos || line.find_first_of(" \t") < colon) return false;
    size_t start = line.find_first_not_of(" \t", colon + 1);
    size_t end = line.find_last_not_of(" \t");
    std::string value = start == std::string::npos ? "" : line.substr(start, end + 1 - start);
    request->headers.emplace_back(line.substr(0, colon), value);
    return true;
}

// A body comes only as one plain count of at most BODY_LIMIT bytes: the
// server library answers a count it cannot read with a broken answer of its
// own (its head twice), so none reaches it.
bool framingRefused(const PageRequest& request, PageAnswer* refusal)
{
    std::string length = request.header("Content-Length");
    if (request.headerCount("Transfer-Encoding") != 0) {
        *refusal = errorAnswer(411, "Length Required");
    } else if (request.headerCount("Content-Length") > 1
        || (request.headerCount("Content-Length") == 1
            && (length.empty() || length.find_first_not_of("0123456789") != std::string::npos))) {
        *refusal = errorAnswer(400, "Content-Length is not one plain count of bytes");
    } else if (length.size() > 9 || (!length.empty() && std::stoul(length) > BODY_LIMIT)) {
        *refusal = errorAnswer(413, "Payload Too Large");
    } else {
        return false;
    }
    return true;
}

} // namespace

size_t headEnd(const std::string& bytes)
{
    size_t crlf = bytes.find("\r\n\r\n");
    size_t lf = bytes.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || crlf + 2 <= lf)) return crlf + 4;
    return lf == std::string::npos ? 0 : lf + 2;
}

bool readHead(const std::string& head, PageRequest* request, PageAnswer* refusal)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < head.size();) {
        size_t end = std::min(head.find('\n', at), head.size());
        std::string line = head.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        at = end + 1;
    }
    if (head.size() > HEAD_LIMIT || lines.size() > HEAD_LINES_LIMIT + 1)
        return *refusal = errorAnswer(431, "Request Header Fields Too Large"), false;
    if (lines.empty() || !readRequestLine(lines[0], request, refusal)) {
        if (lines.empty()) *refusal = errorAnswer(400, "malformed request line");
        return false;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        if (!readHeaderLine(lines[i], request)) return *refusal = errorAnswer(400, "malformed header line"), false;
    }
    return !framingRefused(*request, refusal);
}

std::string answerText(const PageAnswer& answer)
{
    std::string text = "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status) + "\r\n";
    for (const auto& header : ANSWER_HEADERS) text += std::string(header[0]) + ": " + header[1] + "\r\n";
    if (!answer.contentType.empty()) text += "Content-Type: " + answer.contentType + "\r\n";
    return text + "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" + answer.body;
}

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
