#include "wire/control.h"

#include <stdio.h>
#include <string.h>

#include "wire/endpoint.h"
#include "wire/protocol.h"
#include "wire/transport.h"

namespace wire {

namespace {

const uint32_t CONTROL_TIMEOUT_MS = 5000;

bool fail(std::string* error, const std::string& reason)
{
    if (error) *error = reason;
    return false;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// One control request on a fresh session.
bool request(const std::string& name, uint16_t op, std::vector<uint8_t> payload, Frame* reply, std::string* error)
{
    Endpoint endpoint;
    std::string reason;
    if (!parseEndpoint(name, &endpoint, &reason)) return fail(error, reason);
    // The call and the answer share one limit: a stopped printer costs the
    // person a few seconds and a reason, never a hung shell.
    uint64_t deadline = monotonicMs() + CONTROL_TIMEOUT_MS;
    Socket socket = connectEndpoint(endpoint, deadline, &reason);
    if (socket == NO_SOCKET) return fail(error, reason);
    Frame hello;
    hello.op = OP_HELLO;
    hello.seq = 1;
    hello.payload = { ROLE_CONTROL };
    Frame ask;
    ask.op = op;
    ask.seq = 2;
    ask.payload = std::move(payload);
    IoResult result = exchange(socket, hello, reply, deadline);
    // A printer that turns the session away says why, as for a refused request.
    if (result == IoResult::Done && reply->status == STATUS_OK) result = exchange(socket, ask, reply, deadline);
    closeSocket(socket);
    if (result != IoResult::Done)
        return fail(error,
            "the printer at " + name + " did not answer within " + std::to_string(CONTROL_TIMEOUT_MS / 1000)
                + " s (is it stopped?)");
    if (reply->status != STATUS_OK) return fail(error, std::string(reply->payload.begin(), reply->payload.end()));
    return true;
}

} // namespace

bool vprinterSet(const std::string& endpoint, const std::vector<std::string>& assignments, std::string* error)
{
    std::string text;
    for (const std::string& word : assignments) {
        // A word holding a blank or newline would be read as two words.
        if (word.find_first_of(" \t\r\n") != std::string::npos) return fail(error, "bad setting '" + word + "'");
        text += word + "\n";
    }
    Frame reply;
    return request(endpoint, OP_SET, std::vector<uint8_t>(text.begin(), text.end()), &reply, error);
}

bool vprinterGetText(const std::string& endpoint, std::string* text, std::string* error)
{
    Frame reply;
    if (!request(endpoint, OP_GET, {}, &reply, error)) return false;
    text->assign(reply.payload.begin(), reply.payload.end());
    return true;
}

bool vprinterGet(const std::string& endpoint, std::map<std::string, std::string>* state, std::string* error)
{
    std::string text;
    if (!vprinterGetText(endpoint, &text, error)) return false;
    state->clear();
    for (auto& [key, value] : settingsFromText(text)) (*state)[key] = value;
    return true;
}

std::vector<std::pair<std::string, std::string>> settingsFromText(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> settings;
    for (const std::string& line : lines(text)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) settings.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return settings;
}

std::vector<JobSummary> jobsFromText(const std::string& text)
{
    std::vector<JobSummary> jobs;
    for (const std::string& line : lines(text)) {
        unsigned number = 0;
        unsigned long long size = 0;
        char sha256[65] = {};
        int used = 0;
        if (sscanf(line.c_str(), "job.%9u=%19llu %64[0-9a-f]%n", &number, &size, sha256, &used) == 3
            && static_cast<size_t>(used) == line.size() && strlen(sha256) == 64) {
            jobs.push_back({ number, size, sha256 });
        }
    }
    return jobs;
}

bool vprinterJob(const std::string& endpoint, uint32_t number, std::vector<uint8_t>* bytes, std::string* error)
{
    std::vector<uint8_t> payload;
    putU32(payload, number);
    Frame reply;
    if (!request(endpoint, OP_JOB, std::move(payload), &reply, error)) return false;
    *bytes = std::move(reply.payload);
    return true;
}

bool vprinterMark(const std::string& endpoint, const std::string& text, std::string* error)
{
    Frame reply;
    return request(endpoint, OP_MARK, std::vector<uint8_t>(text.begin(), text.end()), &reply, error);
}

bool vprinterPaper(const std::string& endpoint, std::vector<PaperEntry>* entries, std::string* error)
{
    Frame reply;
    if (!request(endpoint, OP_PAPER, {}, &reply, error)) return false;
    *entries = paperFromText(std::string(reply.payload.begin(), reply.payload.end()));
    return true;
}

std::vector<PaperEntry> paperFromText(const std::string& text)
{
    std::vector<PaperEntry> entries;
    for (const std::string& line : lines(text)) {
        PaperEntry entry;
        unsigned long long order = 0, time = 0, last = 0, opened = 0, closed = 0;
        unsigned job = 0;
        int used = 0;
        const char* c = line.c_str();
        if (sscanf(c, "job %19llu %9u %19llu%n", &order, &job, &time, &used) == 3 && size_t(used) == line.size()) {
            entry.kind = PaperEntry::Job;
            entry.job = job;
        } else if (sscanf(c, "mark %19llu %19llu %n", &order, &time, &used) == 2 && used > 0
            && size_t(used) < line.size()) {
            entry.kind = PaperEntry::Mark;
            entry.text = line.substr(static_cast<size_t>(used));
        } else if (sscanf(c, "sessions %19llu %19llu %19llu %19llu %19llu%n", &order, &time, &last, &opened, &closed,
                       &used)
                == 5
            && size_t(used) == line.size()) {
            entry.kind = PaperEntry::Sessions;
            entry.lastMs = last;
            entry.opened = opened;
            entry.closed = closed;
        } else {
            continue;
        }
        entry.order = order;
        entry.timeMs = time;
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace wire
