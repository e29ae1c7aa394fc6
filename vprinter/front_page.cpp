#include "vprinter/front_page.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdio.h>
#include <string.h>

#include "vprinter/page_server.h"
#include "vprinter/panel.h"
#include "vprinter/paper.h"
#include "vprinter/prompt_guide.h"
#include "vprinter/raster_png.h"
#include "wire/control.h"
#include "wire/sha256.h"

// The page itself, vprinter/front_page.html, built in by CMake.
extern const char FRONT_PAGE_HTML[];

namespace vprinter {

namespace {

// The page's secret: its bytes, and the header the page's own requests carry
// it in (the page's address carries it as ?token=).
const size_t TOKEN_BYTES = 16;
const char TOKEN_HEADER[] = "X-Vprinter-Token";

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
        return "{\"kind\":\"cut\",\"count\":" + std::to_string(printed.count) + "}";
    case Printed::Stamp:
        return "{\"kind\":\"stamp\",\"text\":" + quoted(printed.text) + ",\"count\":" + std::to_string(printed.count)
            + "}";
    case Printed::Note:
        break;
    }
    return "{\"kind\":\"note\",\"text\":" + quoted(printed.text) + ",\"broken\":" + (printed.broken ? "true" : "false")
        + ",\"count\":" + std::to_string(printed.count) + "}";
}

std::string paperEntryJson(const wire::PaperEntry& entry)
{
    std::string common = ",\"order\":" + std::to_string(entry.order) + ",\"time\":" + std::to_string(entry.timeMs);
    switch (entry.kind) {
    case wire::PaperEntry::Job:
        return "{\"kind\":\"job\"" + common + ",\"number\":" + std::to_string(entry.job) + "}";
    case wire::PaperEntry::Mark:
        return "{\"kind\":\"mark\"" + common + ",\"text\":" + quoted(entry.text) + "}";
    case wire::PaperEntry::Sessions:
        break;
    }
    return "{\"kind\":\"sessions\"" + common + ",\"last\":" + std::to_string(entry.lastMs)
        + ",\"opened\":" + std::to_string(entry.opened) + ",\"closed\":" + std::to_string(entry.closed) + "}";
}

// The panel's controls by their names, and what each of devbench's prompts
// asks of them: the same for every request, so made once.
const std::string& panelJson()
{
    static const std::string json = [] {
        std::string controls;
        for (const ControlName& control : panelControls()) {
            std::string positions;
            for (const ControlName::Position& position : control.positions) {
                positions += std::string(positions.empty() ? "" : ",") + "{\"word\":" + quoted(position.word)
                    + ",\"name\":" + quoted(position.name) + "}";
            }
            controls += std::string(controls.empty() ? "" : ",") + "{\"key\":" + quoted(control.key) + ",\"label\":"
                + quoted(control.label) + ",\"hint\":" + quoted(control.hint) + ",\"positions\":[" + positions + "]}";
        }
        std::string prompts;
        for (const PromptGuide& row : promptGuide()) {
            prompts += std::string(prompts.empty() ? "" : ",") + "{\"prompt\":" + quoted(row.prompt)
                + ",\"onThePage\":" + quoted(row.onThePage) + ",\"words\":" + quoted(row.words) + "}";
        }
        return "{\"controls\":[" + controls + "],\"prompts\":[" + prompts + "]}";
    }();
    return json;
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

// The Host a browser sends is the name in the address it was given. Only the
// address the connection came in on, or a loopback name when it came in on
// loopback, is ours: any other name (127.example.com, pointed at 127.0.0.1 by
// another site) is a site that wants to reach the printer.
bool hostAllowed(const httplib::Request& request)
{
    if (request.get_header_value_count("Host") != 1) return false;
    std::string host = request.get_header_value("Host");
    std::string port = ":" + std::to_string(request.local_port);
    if (host.size() <= port.size() || host.compare(host.size() - port.size(), port.size(), port) != 0) return false;
    std::string name = host.substr(0, host.size() - port.size());
    const std::string& local = request.local_addr;
    if (name == (local.find(':') == std::string::npos ? local : "[" + local + "]")) return true;
    // The local address is a numeric one here, so its prefix is exact.
    return loopbackName(local) && (name == "localhost" || name == "127.0.0.1" || name == "[::1]");
}

std::string makeToken()
{
    unsigned char bytes[TOKEN_BYTES];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return "";
    return wire::hexDigits(bytes, sizeof bytes);
}

// Compared in constant time, so the answer's timing tells nothing of it.
bool tokenGiven(const httplib::Request& request, const std::string& token)
{
    std::string given
        = request.has_header(TOKEN_HEADER) ? request.get_header_value(TOKEN_HEADER) : request.get_param_value("token");
    return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

// A browser names the page that sends a change; only our own may. A
// request without Origin comes from no browser, and carries the secret.
bool originAllowed(const httplib::Request& request)
{
    return !request.has_header("Origin")
        || request.get_header_value("Origin") == "http://" + request.get_header_value("Host");
}

const char NO_TOKEN_PAGE[] = "<!doctype html><meta charset=\"utf-8\"><title>vprinter</title>\n"
                             "<p>This printer's page opens only at the address <code>vprinter serve</code> printed "
                             "when it started: <code>page at http://&hellip;/?token=&hellip;</code>. Copy that "
                             "whole line's address.</p>\n";

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
    std::string printer;
    std::string firmware;
    std::string token;
    std::string url;
    // Last, so its workers stop before what they read goes.
    PageServer server;

    void guard();
    void route();
    std::string stateJson(const std::string& text, const std::vector<wire::PaperEntry>& paper) const;
};

void FrontPage::Served::guard()
{
    server.routes().set_default_headers({ { "Referrer-Policy", "no-referrer" }, { "X-wire::Frame-Options", "DENY" },
        { "X-Content-Type-Options", "nosniff" } });
    server.routes().set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        using Outcome = httplib::Server::HandlerResponse;
        if (!hostAllowed(request)) {
            replyError(response, 403, "this page answers only at its own address");
        } else if (!tokenGiven(request, token)) {
            response.status = 403;
            response.set_content(NO_TOKEN_PAGE, "text/html; charset=utf-8");
        } else if (request.method != "GET" && !originAllowed(request)) {
            replyError(response, 403, "changes come only from the printer's own page");
        } else {
            return Outcome::Unhandled;
        }
        return Outcome::Handled;
    });
}

void FrontPage::Served::route()
{
    httplib::Server& http = server.routes();
    http.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(FRONT_PAGE_HTML, "text/html; charset=utf-8");
    });
    http.Get("/panel", [](const httplib::Request&, httplib::Response& response) { reply(response, 200, panelJson()); });
    http.Get("/state", [this](const httplib::Request&, httplib::Response& response) {
        std::string text;
        std::vector<wire::PaperEntry> paper;
        std::string error;
        if (!wire::vprinterGetText(printer, &text, &error) || !wire::vprinterPaper(printer, &paper, &error)) {
            return replyError(response, 502, error);
        }
        reply(response, 200, stateJson(text, paper));
    });
    http.Post("/set", [this](const httplib::Request& request, httplib::Response& response) {
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

// The printer's `get` text and its paper's order as
// {"printer":{...},"state":{key:value...},"jobs":[...],"paper":[...]}.
std::string FrontPage::Served::stateJson(const std::string& text, const std::vector<wire::PaperEntry>& paper) const
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
    std::string entries;
    for (const wire::PaperEntry& entry : paper) entries += (entries.empty() ? "" : ",") + paperEntryJson(entry);
    return "{\"printer\":{\"endpoint\":" + quoted(printer) + ",\"firmware\":" + quoted(firmware) + "},\"state\":{"
        + state + "},\"jobs\":[" + jobs + "],\"paper\":[" + entries + "]}";
}

FrontPage::FrontPage() = default;

FrontPage::~FrontPage() = default;

const std::string& FrontPage::url() const { return served_->url; }

bool FrontPage::start(const HttpAddress& address, const std::string& printer, const std::string& firmware)
{
    auto served = std::make_unique<Served>();
    served->printer = printer;
    served->firmware = firmware;
    served->token = makeToken();
    // A page on every address is opened on this machine through loopback.
    std::string host = address.host == "0.0.0.0" ? "127.0.0.1" : address.host == "::" ? "::1" : address.host;
    std::string where = host.find(':') == std::string::npos ? host : "[" + host + "]";
    std::string error;
    if (served->token.empty()) {
        error = "no random bytes for the page's secret";
    } else if (served->server.listen(address.host, address.port, &error)) {
        served->guard();
        served->route();
        served->url = "http://" + where + ":" + std::to_string(served->server.port()) + "/?token=" + served->token;
    }
    if (served->url.empty()) {
        fprintf(stderr, "vprinter: cannot serve the page on %s port %u: %s\n", address.host.c_str(), address.port,
            error.c_str());
        return false;
    }
    if (!address.loopback) {
        fprintf(stderr,
            "vprinter: warning: %s is not a loopback address: anyone who reaches it and has the page's address "
            "with its secret can change the printer; from another machine, use this machine's address in place "
            "of %s\n",
            address.host.c_str(), where.c_str());
    }
    served->server.start();
    served_ = std::move(served);
    return true;
}

} // namespace vprinter
