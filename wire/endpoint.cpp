#include "wire/endpoint.h"

#include <sys/stat.h>

namespace wire {

namespace {

// The smallest socket address path among the systems we build for, less the
// terminator.
const size_t MAX_SOCKET_PATH = 103;

bool isLoopback(const std::string& host) { return host == "127.0.0.1" || host == "localhost"; }

bool parseHostAndPort(const std::string& name, size_t colon, Endpoint* endpoint, std::string* error)
{
    std::string digits = name.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos
        || std::stoul(digits) > 65535) {
        *error = "'" + name + "' is not HOST:PORT with a port number up to 65535 (a socket file of that name is ./"
            + name + ")";
        return false;
    }
    endpoint->kind = Endpoint::Tcp;
    endpoint->host = name.substr(0, colon);
    endpoint->port = static_cast<uint16_t>(std::stoul(digits));
    if (!isLoopback(endpoint->host)) {
        *error = "host '" + endpoint->host + "' is not loopback (use 127.0.0.1 or localhost)";
        return false;
    }
    return true;
}

} // namespace

bool parseEndpoint(const std::string& name, Endpoint* endpoint, std::string* error)
{
    *endpoint = Endpoint();
    if (name.empty()) {
        *error = "empty port name";
        return false;
    }
    // An option that lost its place on a command line, never a file.
    if (name[0] == '-') {
        *error = "'" + name + "' looks like an option, not an endpoint (a socket file of that name is ./" + name + ")";
        return false;
    }
    // A name that looks like a host and port is one, or an error; never a
    // file that happens to be called so.
    size_t colon = name.rfind(':');
    if (name.find('/') == std::string::npos && colon != std::string::npos) {
        return parseHostAndPort(name, colon, endpoint, error);
    }
    if (name.size() > MAX_SOCKET_PATH) {
        *error = "socket path longer than " + std::to_string(MAX_SOCKET_PATH) + " characters";
        return false;
    }
    endpoint->kind = Endpoint::Local;
    endpoint->path = name;
    return true;
}

std::string endpointText(const Endpoint& endpoint)
{
    if (endpoint.kind == Endpoint::Tcp) return endpoint.host + ":" + std::to_string(endpoint.port);
    return endpoint.path;
}

std::string lockName(const Endpoint& endpoint)
{
    // Both spellings of loopback name the same printer, so they share a lock.
    if (endpoint.kind == Endpoint::Tcp) return "127.0.0.1-" + std::to_string(endpoint.port);
#ifndef _WIN32
    // Every name of one socket (a symlink, a link, another spelling of its
    // path) shares one lock, named after the socket's device and inode.
    struct stat info;
    if (stat(endpoint.path.c_str(), &info) == 0) {
        return "socket-" + std::to_string(info.st_dev) + "-" + std::to_string(info.st_ino);
    }
#endif
    // Nothing there: no printer can be opened by this name anyway.
    std::string name = "path-";
    for (char c : endpoint.path) name += c == '/' || c == '\\' ? '_' : c;
    return name;
}

} // namespace wire
