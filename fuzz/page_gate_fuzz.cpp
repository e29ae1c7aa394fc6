// The page's gate, with whatever a client sends: it must never admit a
// request at another address, without the secret, or a change from another
// page, and its refusals stay small. Input: lines of the address given to
// --http, the method, the path, the query's token, the local address and
// port, then headers as NAME:VALUE, a blank line and the body. The same bytes
// are also read as a head on the wire, as the door reads it: what it lets
// through frames its body as one plain count the page takes.
#include <stdint.h>
#include <stdlib.h>
#include <strings.h>

#include <string>

#include "vprinter/page_gate.h"
#include "vprinter/page_listen.h"

namespace {

const char TOKEN[] = "0123456789abcdef0123456789abcdef";

std::string nextLine(const std::string& text, size_t& at)
{
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    return line;
}

void checkAddress(const std::string& text)
{
    vprinter::HttpAddress address;
    std::string error;
    bool parsed = vprinter::parseHttpAddress(text, &address, &error);
    if (parsed == !error.empty()) abort();
    if (parsed && (address.host.empty() || text.find(std::to_string(address.port)) == std::string::npos)) abort();
}

void checkHead(const std::string& text)
{
    vprinter::PageRequest request;
    vprinter::PageAnswer refusal;
    if (!vprinter::readHead(text.substr(0, vprinter::headEnd(text)), &request, &refusal)) {
        if (refusal.status < 400 || refusal.body.size() > 1024) abort();
        return;
    }
    std::string length = request.header("Content-Length");
    if (request.headerCount("Transfer-Encoding") != 0 || request.headerCount("Content-Length") > 1
        || length.find_first_not_of("0123456789") != std::string::npos || length.size() > 9
        || (!length.empty() && std::stoul(length) > vprinter::BODY_LIMIT))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    checkHead(text);
    size_t at = 0;
    checkAddress(nextLine(text, at));
    vprinter::PageRequest request;
    request.method = nextLine(text, at);
    request.path = nextLine(text, at);
    request.tokenParameter = nextLine(text, at);
    request.localAddress = nextLine(text, at);
    request.localPort = static_cast<uint16_t>(atoi(nextLine(text, at).c_str()));
    for (std::string line = nextLine(text, at); !line.empty(); line = nextLine(text, at)) {
        size_t colon = line.find(':');
        request.headers.emplace_back(line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 1));
    }
    request.body = text.substr(at);

    vprinter::PageAnswer refusal;
    if (!vprinter::admitted(request, TOKEN, &refusal)) {
        if (refusal.status != 403 || refusal.body.size() > 1024) abort();
        return 0;
    }
    std::string host = request.header("Host");
    std::string port = ":" + std::to_string(request.localPort);
    if (request.headerCount("Host") != 1 || host.size() <= port.size()
        || host.compare(host.size() - port.size(), port.size(), port) != 0)
        abort();
    std::string given
        = request.headerCount(vprinter::TOKEN_HEADER) ? request.header(vprinter::TOKEN_HEADER) : request.tokenParameter;
    if (given != TOKEN) abort();
    bool change = request.method != "GET" && request.method != "HEAD";
    if (change && request.headerCount("Origin") != 0 && request.header("Origin") != "http://" + host) abort();
    return 0;
}
