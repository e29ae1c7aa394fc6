#include "vprinter/front_page.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <httplib.h>

#include "vprinter/panel.h"
#include "vprinter/paper.h"
#include "vprinter/raster_png.h"
#include "wire/control.h"

// The page itself, vprinter/front_page.html, built in by CMake.
extern const char FRONT_PAGE_HTML[];

namespace vprinter {

namespace {

// A page polls a few times a second; a handful of workers serve several
// pages, and a client that stalls holds one for at most the I/O timeout.
const size_t WORKERS = 4;
const time_t IO_TIMEOUT_S = 2;
const size_t BODY_LIMIT = 4096;
// Asked of a state-changing request: a page of another site cannot send it
// without the browser first asking this server, which never agrees.
const char PAGE_HEADER[] = "X-Vprinter-Page";

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

std::string base64(const std::vector<uint8_t>& bytes)
{
    static const char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= bytes[i + 2];
        out += DIGITS[group >> 18];
        out += DIGITS[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? DIGITS[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? DIGITS[group & 63] : '=';
    }
    return out;
}

std::string printedJson(const Printed& printed)
{
    switch (printed.kind) {
    case Printed::Text: {
        std::string lines;
        for (const std::string& line : printed.lines) lines += (lines.empty() ? "" : ",") + quoted(line);
        return "{\"kind\":\"text\",\"lines\":[" + lines + "]}";
    }
    case Printed::Raster: {
        const RasterImage& image = printed.raster;
        std::vector<uint8_t> png = rasterPng(image);
        return "{\"kind\":\"raster\",\"width\":" + std::to_string(image.widthDots())
            + ",\"rows\":" + std::to_string(image.rows.size()) + ",\"ended\":" + (image.ended ? "true" : "false")
            + ",\"shortRows\":" + std::to_string(image.shortRows()) + ",\"stray\":" + std::to_string(image.strayBytes)
            + ",\"png\":" + (png.empty() ? "null" : quoted("data:image/png;base64," + base64(png))) + "}";
    }
    case Printed::Cut:
        return "{\"kind\":\"cut\"}";
    case Printed::Stamp:
        return "{\"kind\":\"stamp\",\"text\":" + quoted(printed.text) + "}";
    case Printed::Note:
        break;
    }
    return "{\"kind\":\"note\",\"text\":" + quoted(printed.text) + ",\"broken\":" + (printed.broken ? "true" : "false")
        + "}";
}

// The printer's `get` text as {"state":{key:value...},"jobs":[...]}.
std::string stateJson(const std::string& text)
{
    std::string state;
    for (const auto& [key, value] : wire::settingsFromText(text)) {
        if (key.compare(0, 4, "job.") == 0) continue;
        state += (state.empty() ? "" : ",") + quoted(key) + ":" + quoted(value);
    }
    std::string jobs;
    for (const wire::JobSummary& job : wire::jobsFromText(text)) {
        jobs += std::string(jobs.empty() ? "" : ",") + "{\"number\":" + std::to_string(job.number)
            + ",\"size\":" + std::to_string(job.size) + ",\"sha256\":" + quoted(job.sha256) + "}";
    }
    return "{\"state\":{" + state + "},\"jobs\":[" + jobs + "]}";
}

void reply(httplib::Response& response, int status, const std::string& json)
{
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(json, "application/json");
}

void replyError(httplib::Response& response, int status, const std::string& message)
{
    reply(response, status, "{\"error\":" + quoted(message) + "}");
}

bool loopbackName(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

// A page served on loopback answers only to loopback names, so another site
// cannot reach it by pointing a name of its own at 127.0.0.1.
bool hostAllowed(const httplib::Request& request, const HttpAddress& address)
{
    if (!address.loopback) return true;
    std::string host = request.get_header_value("Host");
    if (!host.empty() && host.front() == '[') {
        size_t close = host.find(']');
        host = close == std::string::npos ? "" : host.substr(1, close - 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    return loopbackName(host);
}

} // namespace

bool parseHttpAddress(const std::string& text, HttpAddress* address, std::string* error)
{
    size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        host.clear();
    }
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos
        || std::stoul(port) > 65535) {
        *error = "--http needs HOST:PORT, for example 127.0.0.1:8631 ([::1]:8631 for IPv6), not '" + text + "'";
        return false;
    }
    address->host = host;
    address->port = static_cast<uint16_t>(std::stoul(port));
    address->loopback = loopbackName(host);
    return true;
}

struct FrontPage::Served {
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> finished { false };
    HttpAddress address;
    std::string printer;

    void route();
};

void FrontPage::Served::route()
{
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (hostAllowed(request, address)) return httplib::Server::HandlerResponse::Unhandled;
        replyError(response, 403, "this page answers to loopback names only");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(FRONT_PAGE_HTML, "text/html; charset=utf-8");
    });
    http.Get("/state", [this](const httplib::Request&, httplib::Response& response) {
        std::string text;
        std::string error;
        if (!wire::vprinterGetText(printer, &text, &error)) return replyError(response, 502, error);
        reply(response, 200, stateJson(text));
    });
    http.Post("/set", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.get_header_value(PAGE_HEADER) != "1") {
            return replyError(response, 403, std::string("a change needs the header ") + PAGE_HEADER + ": 1");
        }
        std::vector<std::string> words = splitWords(request.body);
        std::string error;
        if (words.empty()) return replyError(response, 400, "nothing to set");
        if (!wire::vprinterSet(printer, words, &error)) return replyError(response, 400, error);
        reply(response, 200, "{}");
    });
    http.Get(R"(/job/(\d{1,9}))", [this](const httplib::Request& request, httplib::Response& response) {
        uint32_t number = static_cast<uint32_t>(std::stoul(request.matches[1].str()));
        std::vector<uint8_t> bytes;
        std::string error;
        if (!wire::vprinterJob(printer, number, &bytes, &error)) return replyError(response, 404, error);
        std::string printed;
        for (const Printed& p : printJob(bytes.data(), bytes.size())) {
            printed += (printed.empty() ? "" : ",") + printedJson(p);
        }
        reply(response, 200,
            "{\"number\":" + std::to_string(number) + ",\"kept\":" + std::to_string(bytes.size()) + ",\"printed\":["
                + printed + "]}");
    });
}

FrontPage::FrontPage() = default;

FrontPage::~FrontPage()
{
    if (!served_) return;
    served_->http.stop();
    served_->thread.join();
}

bool FrontPage::start(const HttpAddress& address, const std::string& printer)
{
    auto served = std::make_unique<Served>();
    served->address = address;
    served->printer = printer;
    served->http.new_task_queue = [] { return new httplib::ThreadPool(WORKERS); };
    // One request per connection: a stop never waits for an idle keep-alive.
    served->http.set_keep_alive_max_count(1);
    served->http.set_read_timeout(IO_TIMEOUT_S);
    served->http.set_write_timeout(IO_TIMEOUT_S);
    served->http.set_payload_max_length(BODY_LIMIT);
    served->route();
    int port = address.port;
    errno = 0;
    if (port == 0) {
        port = served->http.bind_to_any_port(address.host);
    } else if (!served->http.bind_to_port(address.host, port)) {
        port = -1;
    }
    std::string where = address.host.find(':') == std::string::npos ? address.host : "[" + address.host + "]";
    if (port < 0) {
        fprintf(stderr, "vprinter: cannot serve the page on %s:%u: %s\n", where.c_str(), address.port,
            errno != 0 ? strerror(errno) : "address not usable");
        return false;
    }
    std::string url = "http://" + where + ":" + std::to_string(port) + "/";
    if (!address.loopback) {
        fprintf(stderr,
            "vprinter: warning: %s is not a loopback address: anyone who reaches %s can change the printer\n",
            address.host.c_str(), url.c_str());
    }
    // Signals are for the server's thread: the page's threads never take them.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    Served* running = served.get();
    served->thread = std::thread([running] {
        running->http.listen_after_bind();
        running->finished = true;
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    // A stop before the listener is running would not reach it.
    while (!served->http.is_running() && !served->finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    served_ = std::move(served);
    printf("page at %s\n", url.c_str());
    fflush(stdout);
    return true;
}

} // namespace vprinter
