#include "vprinter/requests.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "vprinter/panel.h"

namespace vprinter {

namespace {

// END_BLOCK never holds a client longer than this, whatever it asks for.
const uint32_t MAX_END_WAIT_MS = 60000;

Answer replyTo(const Frame& request, uint16_t status, std::vector<uint8_t> payload = {})
{
    Answer answer;
    answer.kind = Answer::Reply;
    answer.reply.op = static_cast<uint16_t>(request.op | OP_REPLY);
    answer.reply.status = status;
    answer.reply.seq = request.seq;
    answer.reply.payload = std::move(payload);
    return answer;
}

Answer replyText(const Frame& request, uint16_t status, const std::string& text)
{
    return replyTo(request, status, std::vector<uint8_t>(text.begin(), text.end()));
}

Answer hangUp()
{
    Answer answer;
    answer.kind = Answer::HangUp;
    return answer;
}

Answer later(Conversation& conversation, uint64_t wakeAt)
{
    conversation.wakeAt = wakeAt;
    return Answer();
}

std::vector<uint8_t> u32(uint32_t value)
{
    std::vector<uint8_t> bytes;
    putU32(bytes, value);
    return bytes;
}

// A request's payload has the size its op needs, and names a known layout.
bool wellFormed(const Frame& request)
{
    const std::vector<uint8_t>& p = request.payload;
    switch (request.op) {
    case OP_WRITE:
    case OP_SET:
    case OP_MARK:
        return true;
    case OP_RESET:
    case OP_ONLINE:
    case OP_GET:
    case OP_PAPER:
        return p.empty();
    case OP_READ:
    case OP_JOB:
        return p.size() == 4;
    case OP_STATUS:
    case OP_BEGIN_BLOCK:
        return p.size() == 4 && getU32(p.data()) <= LAYOUT_L1;
    case OP_END_BLOCK:
        return p.size() == 8 && getU32(p.data()) <= LAYOUT_L1;
    default:
        return false;
    }
}

// The paper tells a person when things came out, so its times are the wall
// clock's, not the server's monotonic one.
uint64_t wallMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

Layout layoutOf(const Frame& request) { return static_cast<Layout>(getU32(request.payload.data())); }

} // namespace

Requests::Requests(Device& device, const PrinterFaults& faults, int captureFd)
    : device_(device)
    , faults_(faults)
    , captureFd_(captureFd)
{
}

bool Requests::takeStateChange()
{
    bool changed = stateChanged_;
    stateChanged_ = false;
    return changed;
}

Answer Requests::start(Conversation& conversation, Frame request, uint64_t now)
{
    if (request.status != 0 || (request.op & OP_REPLY) != 0) return hangUp();
    if (conversation.role == 0) return hello(conversation, request);
    bool control = request.op == OP_SET || request.op == OP_GET || request.op == OP_JOB || request.op == OP_MARK
        || request.op == OP_PAPER;
    if (!wellFormed(request) || control != (conversation.role == ROLE_CONTROL)) return hangUp();
    conversation.notBefore = now;
    if (request.op == OP_STATUS || request.op == OP_ONLINE || request.op == OP_BEGIN_BLOCK) {
        conversation.notBefore = now + faults_.slowStatusMs;
    }
    if (request.op == OP_END_BLOCK) {
        paper_.endJob();
        device_.endBlock(now);
        conversation.deadline = now + std::min(getU32(request.payload.data() + 4), MAX_END_WAIT_MS);
    }
    conversation.pending = std::move(request);
    return resume(conversation, now);
}

Answer Requests::turnAway(const Frame& request, size_t places)
{
    if (request.op != OP_HELLO) return hangUp();
    Answer answer = replyText(request, STATUS_REFUSED,
        "the printer serves at most " + std::to_string(places) + " clients at once; try again later");
    answer.last = true;
    return answer;
}

Answer Requests::hello(Conversation& conversation, const Frame& request)
{
    const std::vector<uint8_t>& p = request.payload;
    if (request.op != OP_HELLO || p.size() != 1 || (p[0] != ROLE_PORT && p[0] != ROLE_CONTROL)) return hangUp();
    if (p[0] == ROLE_PORT && !device_.reachable()) return replyTo(request, STATUS_UNREACHABLE);
    conversation.role = p[0];
    if (p[0] == ROLE_PORT) {
        paper_.endJob();
        paper_.sessionOpened(wallMs());
    }
    return replyText(request, STATUS_OK, device_.options().name);
}

void Requests::ended(const Conversation& conversation)
{
    if (conversation.role == ROLE_PORT) paper_.sessionClosed(wallMs());
}

Answer Requests::resume(Conversation& conversation, uint64_t now)
{
    const Frame& request = *conversation.pending;
    if (now < conversation.notBefore) return later(conversation, conversation.notBefore);
    // Sessions are dropped when the printer goes away; this one is on its way out.
    if (conversation.role == ROLE_PORT && !device_.reachable()) return hangUp();
    Answer answer;
    if (request.op == OP_WRITE) {
        answer = write(conversation, request, now);
    } else if (request.op == OP_END_BLOCK) {
        answer = endBlock(conversation, request, now);
    } else {
        answer = immediate(request, now);
    }
    if (answer.kind != Answer::Later) conversation.pending.reset();
    return answer;
}

// The requests that are answered as soon as they are due.
Answer Requests::immediate(const Frame& request, uint64_t now)
{
    const std::vector<uint8_t>& p = request.payload;
    switch (request.op) {
    case OP_READ: {
        std::vector<uint8_t> bytes(std::min<size_t>(getU32(p.data()), MAX_PAYLOAD));
        bytes.resize(device_.takeReply(bytes.data(), bytes.size(), now));
        return replyTo(request, STATUS_OK, bytes);
    }
    case OP_RESET:
        paper_.endJob();
        device_.reset();
        return replyTo(request, STATUS_OK);
    case OP_ONLINE:
        return replyTo(request, STATUS_OK, u32(device_.offline() ? 0 : 1));
    case OP_STATUS:
        return replyTo(request, STATUS_OK, device_.record(layoutOf(request)));
    case OP_BEGIN_BLOCK:
        paper_.endJob();
        device_.beginBlock();
        return replyTo(request, STATUS_OK, device_.record(layoutOf(request)));
    case OP_SET:
        return set(request);
    case OP_GET:
        return get(request);
    case OP_JOB:
        return job(request);
    case OP_MARK:
        return mark(request);
    case OP_PAPER:
        return replyText(request, STATUS_OK, describePaperOrder(paper_));
    }
    return hangUp();
}

Answer Requests::write(Conversation& conversation, const Frame& request, uint64_t now)
{
    const std::vector<uint8_t>& p = request.payload;
    size_t accepted = device_.receive(p.data(), p.size(), now);
    // A slow printer holds the answer until it can take a byte, rather
    // than have the host spin; an offline one answers 0 at once.
    if (accepted == 0 && !p.empty() && device_.takesData() && device_.nextAcceptAt(now) > now) {
        return later(conversation, device_.nextAcceptAt(now));
    }
    paper_.take(p.data(), accepted, wallMs());
    if (captureFd_ >= 0 && accepted > 0) {
        ssize_t ignored = ::write(captureFd_, p.data(), accepted);
        (void)ignored;
    }
    return replyTo(request, STATUS_OK, u32(static_cast<uint32_t>(accepted)));
}

Answer Requests::endBlock(Conversation& conversation, const Frame& request, uint64_t now)
{
    if (device_.jobState(now) == JobState::Printing) {
        if (now < conversation.deadline)
            return later(conversation, std::min(device_.jobDoneAt(), conversation.deadline));
        return replyTo(request, STATUS_TIMED_OUT);
    }
    return replyTo(request, STATUS_OK, device_.record(layoutOf(request)));
}

Answer Requests::set(const Frame& request)
{
    std::string error;
    std::string text(request.payload.begin(), request.payload.end());
    if (!applyAssignments(device_, splitWords(text), &error)) return replyText(request, STATUS_REFUSED, error);
    stateChanged_ = true;
    return replyTo(request, STATUS_OK);
}

Answer Requests::get(const Frame& request)
{
    std::string text;
    for (const auto& [key, value] : describeState(device_)) text += key + "=" + value + "\n";
    return replyText(request, STATUS_OK, text + describeJobs(paper_));
}

Answer Requests::job(const Frame& request)
{
    uint32_t number = getU32(request.payload.data());
    const Job* job = paper_.job(number);
    if (job == nullptr) return replyText(request, STATUS_REFUSED, "no job " + std::to_string(number) + " on the paper");
    return replyTo(request, STATUS_OK, job->bytes);
}

Answer Requests::mark(const Frame& request)
{
    std::string error;
    std::string text(request.payload.begin(), request.payload.end());
    if (!paper_.mark(text, wallMs(), &error)) return replyText(request, STATUS_REFUSED, error);
    return replyTo(request, STATUS_OK);
}

} // namespace vprinter
