#include "vprinter/front_page.h"

#include <openssl/rand.h>
#include <stdio.h>
#include <string.h>

#include "vprinter/page_gate.h"
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

// The page's secret: its bytes, in hex digits in the page's address.
const size_t TOKEN_BYTES = 16;

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

std::string makeToken()
{
    unsigned char bytes[TOKEN_BYTES];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return "";
    return wire::hexDigits(bytes, sizeof bytes);
}

// The number in /job/N, N of one to nine digits, or -1 for any other path.
long jobNumber(const std::string& path)
{
    const std::string prefix = "/job/";
    std::string digits = path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : "";
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stol(digits);
}

} // namespace

struct FrontPage::Served {
    std::string printer;
    std::string firmware;
    std::string token;
    std::string url;
    // Last, so its threads stop before what they read goes.
    PageServer server;

    PageAnswer answer(const PageRequest& request) const;
    PageAnswer state() const;
    PageAnswer set(const std::string& body) const;
    PageAnswer job(uint32_t number) const;
    std::string stateJson(const std::string& text, const std::vector<wire::PaperEntry>& paper) const;
};

PageAnswer FrontPage::Served::answer(const PageRequest& request) const
{
    PageAnswer refusal;
    if (!admitted(request, token, &refusal)) return refusal;
    bool get = request.method == "GET" || request.method == "HEAD";
    long number = jobNumber(request.path);
    if (get && request.path == "/") return { 200, "text/html; charset=utf-8", FRONT_PAGE_HTML };
    if (get && request.path == "/panel") return jsonAnswer(200, panelJson());
    if (get && request.path == "/state") return state();
    if (get && number >= 0) return job(static_cast<uint32_t>(number));
    if (request.method == "POST" && request.path == "/set") return set(request.body);
    return errorAnswer(404, "no such page");
}

PageAnswer FrontPage::Served::state() const
{
    std::string text;
    std::vector<wire::PaperEntry> paper;
    std::string error;
    if (!wire::vprinterGetText(printer, &text, &error) || !wire::vprinterPaper(printer, &paper, &error)) {
        return errorAnswer(502, error);
    }
    return jsonAnswer(200, stateJson(text, paper));
}

PageAnswer FrontPage::Served::set(const std::string& body) const
{
    std::vector<std::string> words = splitWords(body);
    std::string error;
    if (words.empty()) return errorAnswer(400, "nothing to set");
    if (!wire::vprinterSet(printer, words, &error)) return errorAnswer(400, error);
    return jsonAnswer(200, "{}");
}

PageAnswer FrontPage::Served::job(uint32_t number) const
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!wire::vprinterJob(printer, number, &bytes, &error)) return errorAnswer(404, error);
    std::string printed;
    for (const Printed& p : printJob(bytes.data(), bytes.size())) {
        printed += (printed.empty() ? "" : ",") + printedJson(p);
    }
    return jsonAnswer(200,
        "{\"number\":" + std::to_string(number) + ",\"kept\":" + std::to_string(bytes.size()) + ",\"printed\":["
            + printed + "]}");
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

bool FrontPage::start(
    const HttpAddress& address, const std::string& printer, const std::string& firmware, size_t clientFiles)
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
    } else if (served->server.listen(address, &error)) {
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
    Served* serving = served.get();
    auto answer = [serving](const PageRequest& request) { return serving->answer(request); };
    auto judge = [serving](const PageRequest& request, PageAnswer* refusal) {
        return admitted(request, serving->token, refusal);
    };
    if (!served->server.start(answer, judge, clientFiles, &error)) {
        fprintf(stderr, "vprinter: cannot serve the page: %s\n", error.c_str());
        return false;
    }
    served_ = std::move(served);
    return true;
}

} // namespace vprinter
