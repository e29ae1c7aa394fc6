#include "vprinter/paper.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "wire/protocol.h"

namespace vprinter {

namespace {

// A job keeps what one reply can carry; its size and digest cover the rest.
const size_t JOB_KEPT_LIMIT = wire::MAX_PAYLOAD;
const size_t PAPER_KEPT_LIMIT = 16u << 20;
const size_t JOBS_HELD_LIMIT = 256;
const size_t DIVIDERS_HELD_LIMIT = 512;
// Sessions further apart than this start a divider of their own: a person
// takes seconds to answer a prompt, a test opening ports in a loop does not.
const uint64_t SESSIONS_GAP_MS = 1000;

const uint8_t ESC = 0x1B;
const uint8_t LF = 0x0A;
const uint8_t CR = 0x0D;
const uint8_t FF = 0x0C;
const uint8_t HT = 0x09;
const uint8_t NUL = 0x00;
const uint8_t ROW = 'b';

std::string hexBytes(const uint8_t* bytes, size_t size)
{
    std::string text;
    char hex[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

// Reads one job front to back; `at` is the next byte not yet read.
class Reader {
public:
    Reader(const uint8_t* bytes, size_t size)
        : bytes_(bytes)
        , size_(size)
    {
        // One more for the note that sums up the rest; parts never move.
        out_.reserve(PRINTED_PARTS_LIMIT + 1);
    }

    std::vector<Printed> read()
    {
        while (at_ < size_) {
            uint8_t byte = bytes_[at_];
            if (byte == ESC) {
                if (!command()) break;
            } else if (inRaster_) {
                rasterByte(byte);
            } else {
                textByte(byte);
            }
        }
        finish();
        return std::move(out_);
    }

private:
    size_t left() const { return size_ - at_; }

    // The element being added to, when it is the last one and of this kind.
    Printed* last(Printed::Kind kind) { return !out_.empty() && out_.back().kind == kind ? &out_.back() : nullptr; }

    Printed& add(Printed::Kind kind, std::string text = std::string(), bool broken = false)
    {
        flushText();
        flushQuiet();
        Printed printed;
        printed.kind = kind;
        printed.text = std::move(text);
        printed.broken = broken;
        return push(std::move(printed));
    }

    // Every part goes on the view here. Once the view is full, parts go to a
    // spare that is drawn nowhere, and only their being broken is kept.
    Printed& push(Printed printed)
    {
        Printed* previous = out_.empty() || hidden_ ? nullptr : &out_.back();
        if (previous && previous->kind == printed.kind && printed.kind != Printed::Text
            && printed.kind != Printed::Raster && previous->text == printed.text
            && previous->broken == printed.broken) {
            previous->count++;
            return *previous;
        }
        if (out_.size() >= PRINTED_PARTS_LIMIT) hide();
        if (hidden_) {
            hiddenBroken_ = hiddenBroken_ || printed.broken;
            spare_ = std::move(printed);
            return spare_;
        }
        out_.push_back(std::move(printed));
        return out_.back();
    }

    void addLine(Printed& text, std::string line)
    {
        if (++lines_ > PRINTED_LINES_LIMIT) hide();
        if (!hidden_) text.lines.push_back(std::move(line));
    }

    void hide()
    {
        if (hidden_) return;
        hidden_ = true;
        hiddenFrom_ = at_;
    }

    void textByte(uint8_t byte)
    {
        at_++;
        if (byte == LF) {
            addLine(textElement(), std::move(line_));
            line_.clear();
        } else if (byte == FF) {
            add(Printed::Cut);
        } else if (byte >= 0x20 && byte != 0x7F) {
            textElement();
            line_ += byte < 0x80 ? static_cast<char>(byte) : '?';
        } else if (byte == HT) {
            textElement();
            line_ += ' ';
        } else if (byte != CR) {
            flushText();
            quiet_[byte]++;
            quietSize_++;
        }
    }

    Printed& textElement()
    {
        flushQuiet();
        if (hidden_) return spare_;
        if (Printed* text = last(Printed::Text)) return *text;
        Printed printed;
        printed.kind = Printed::Text;
        return push(std::move(printed));
    }

    // A line the job ended without a line feed is printed as it stands.
    void flushText()
    {
        if (line_.empty()) return;
        addLine(textElement(), std::move(line_));
        line_.clear();
    }

    void flushQuiet()
    {
        if (quietSize_ == 0) return;
        std::string text = std::to_string(quietSize_) + (quietSize_ == 1 ? " byte" : " bytes") + " that print nothing:";
        const char* separator = " ";
        for (const auto& [byte, count] : quiet_) {
            text += separator + std::to_string(count) + " x " + hexBytes(&byte, 1);
            separator = ", ";
        }
        quiet_.clear();
        quietSize_ = 0;
        Printed printed;
        printed.kind = Printed::Note;
        printed.text = text;
        push(std::move(printed));
    }

    // Recognises the command at an ESC; false when the job ends inside it.
    bool command()
    {
        enum Action { CutPaper, Recover, FirmwareQuery, Validate, RasterMode };
        struct Command {
            const char* prefix;
            size_t prefixSize;
            size_t parameters;
            Action action;
        };
        static const Command COMMANDS[] = {
            { "\x1B\x0C", 2, 0, CutPaper },
            { "\x1BK", 2, 2, Recover },
            { "\x1B#*\n\0", 5, 0, FirmwareQuery },
            { "\x1B+A", 3, 1, Validate },
            { "\x1B*r", 3, 1, RasterMode },
        };
        for (const Command& command : COMMANDS) {
            if (memcmp(bytes_ + at_, command.prefix, std::min(command.prefixSize, left())) != 0) continue;
            if (left() < command.prefixSize + command.parameters) return cutShort();
            const uint8_t* parameters = bytes_ + at_ + command.prefixSize;
            switch (command.action) {
            case CutPaper:
                add(Printed::Cut);
                image_ = nullptr;
                break;
            case Recover:
                add(Printed::Note,
                    parameters[0] == 1 && parameters[1] == 0 ? "recover (ESC K)" : "ESC K " + hexBytes(parameters, 2));
                break;
            case FirmwareQuery:
                add(Printed::Note, "firmware query");
                break;
            case Validate:
                return validate(parameters[0]);
            case RasterMode:
                return raster(parameters[0]);
            }
            at_ += command.prefixSize + command.parameters;
            return true;
        }
        if (left() < 2) return cutShort();
        return unknown(2);
    }

    bool validate(uint8_t slot)
    {
        std::string text = "validated";
        if (slot > 0x20 && slot < 0x7F) text += std::string(" ") + static_cast<char>(slot);
        add(Printed::Stamp, text);
        // The slip feeds out after the stamp: its line feeds print no lines.
        for (at_ += 4; at_ < size_ && bytes_[at_] == LF; ++at_) { }
        return true;
    }

    bool raster(uint8_t code)
    {
        if (code != 'R' && code != 'A' && code != 'B') return unknown(4);
        at_ += 4;
        if (code == 'B') {
            for (size_t i = rasterStart_; i < out_.size(); ++i) {
                if (out_[i].kind == Printed::Raster) out_[i].raster.ended = true;
            }
            inRaster_ = false;
            image_ = nullptr;
            return true;
        }
        if (!inRaster_) {
            flushText();
            flushQuiet();
            rasterStart_ = out_.size();
            inRaster_ = true;
        }
        // Start of an image: a fresh one, unless the open one has nothing yet.
        if (code == 'A' && (image_ == nullptr || !image_->raster.rows.empty())) image_ = &add(Printed::Raster);
        return true;
    }

    RasterImage& image()
    {
        if (image_ == nullptr) image_ = &add(Printed::Raster);
        return image_->raster;
    }

    void rasterByte(uint8_t byte)
    {
        if (byte == NUL) {
            at_++;
            return;
        }
        if (byte != ROW) {
            image().strayBytes++;
            at_++;
            return;
        }
        if (left() < 3) {
            cutShort();
            return;
        }
        RasterRow row;
        row.declared = bytes_[at_ + 1] | static_cast<uint32_t>(bytes_[at_ + 2]) << 8;
        at_ += 3;
        size_t take = std::min<size_t>(row.declared, left());
        row.data.assign(bytes_ + at_, bytes_ + at_ + take);
        at_ += take;
        image().rows.push_back(std::move(row));
    }

    bool unknown(size_t length)
    {
        add(Printed::Note, "unknown command " + hexBytes(bytes_ + at_, length));
        at_ += length;
        return true;
    }

    bool cutShort()
    {
        add(Printed::Note, "the job ends inside a command: " + hexBytes(bytes_ + at_, left()), true);
        at_ = size_;
        return false;
    }

    void finish()
    {
        flushText();
        flushQuiet();
        // A raster that began out of view and never ended is torn.
        if (inRaster_ && image_ == &spare_) hiddenBroken_ = true;
        if (!hidden_) return;
        Printed rest;
        rest.kind = Printed::Note;
        rest.text = "the last " + std::to_string(size_ - hiddenFrom_) + " bytes are not drawn: a job is drawn up to "
            + std::to_string(PRINTED_PARTS_LIMIT) + " parts or " + std::to_string(PRINTED_LINES_LIMIT) + " lines"
            + (hiddenBroken_ ? ", and a part among them is broken" : "");
        rest.broken = hiddenBroken_;
        out_.push_back(std::move(rest));
    }

    const uint8_t* bytes_;
    size_t size_;
    size_t at_ = 0;
    std::vector<Printed> out_;
    std::string line_;
    std::map<uint8_t, size_t> quiet_;
    size_t quietSize_ = 0;
    bool inRaster_ = false;
    size_t rasterStart_ = 0;
    // The image rows go to; it may be the spare.
    Printed* image_ = nullptr;
    size_t lines_ = 0;
    bool hidden_ = false;
    size_t hiddenFrom_ = 0;
    bool hiddenBroken_ = false;
    Printed spare_;
};

} // namespace

void Paper::take(const uint8_t* bytes, size_t size, uint64_t timeMs)
{
    if (size == 0) return;
    if (!open_) {
        Job job;
        job.number = ++count_;
        job.order = ++order_;
        job.timeMs = timeMs;
        jobs_.push_back(std::move(job));
        open_ = true;
    }
    Job& job = jobs_.back();
    job.size += size;
    size_t keep = std::min(size, JOB_KEPT_LIMIT - job.bytes.size());
    job.bytes.insert(job.bytes.end(), bytes, bytes + keep);
    keptBytes_ += keep;
    if (keep < size) {
        job.digestKept();
        job.digest_.update(bytes + keep, size - keep);
    }
    while (jobs_.size() > 1 && (jobs_.size() > JOBS_HELD_LIMIT || keptBytes_ > PAPER_KEPT_LIMIT)) {
        keptBytes_ -= jobs_.front().bytes.size();
        jobs_.pop_front();
    }
}

Divider& Paper::addDivider(Divider::Kind kind, uint64_t timeMs)
{
    if (dividers_.size() >= DIVIDERS_HELD_LIMIT) dividers_.pop_front();
    Divider divider;
    divider.kind = kind;
    divider.order = ++order_;
    divider.timeMs = divider.lastMs = timeMs;
    dividers_.push_back(std::move(divider));
    return dividers_.back();
}

bool Paper::mark(const std::string& text, uint64_t timeMs, std::string* error)
{
    bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (text.empty() || text.size() > MARK_TEXT_LIMIT || !printable) {
        if (error) {
            *error = "a mark is one line of printable ASCII, 1 to " + std::to_string(MARK_TEXT_LIMIT) + " characters";
        }
        return false;
    }
    endJob();
    addDivider(Divider::Mark, timeMs).text = text;
    return true;
}

// The sessions divider a session event joins: the last divider, if it counts
// sessions, nothing came out after it and it is recent; a new one otherwise.
Divider& Paper::sessions(uint64_t timeMs)
{
    if (!dividers_.empty()) {
        Divider& last = dividers_.back();
        bool latest = last.order == order_;
        if (latest && last.kind == Divider::Sessions && timeMs >= last.lastMs
            && timeMs - last.lastMs <= SESSIONS_GAP_MS) {
            last.lastMs = timeMs;
            return last;
        }
    }
    return addDivider(Divider::Sessions, timeMs);
}

void Paper::sessionOpened(uint64_t timeMs) { sessions(timeMs).opened++; }

void Paper::sessionClosed(uint64_t timeMs) { sessions(timeMs).closed++; }

void Job::digestKept() const
{
    digest_.update(bytes.data() + digested_, bytes.size() - digested_);
    digested_ = bytes.size();
}

std::string Job::sha256() const
{
    digestKept();
    return digest_.hex();
}

const Job* Paper::job(uint64_t number) const
{
    for (const Job& job : jobs_) {
        if (job.number == number) return &job;
    }
    return nullptr;
}

std::string describeJobs(const Paper& paper)
{
    std::string text = "jobs=" + std::to_string(paper.jobCount()) + "\n";
    for (const Job& job : paper.jobs()) {
        text += "job." + std::to_string(job.number) + "=" + std::to_string(job.size) + " " + job.sha256() + "\n";
    }
    return text;
}

std::string describePaperOrder(const Paper& paper)
{
    std::string text;
    auto job = paper.jobs().begin();
    auto divider = paper.dividers().begin();
    while (job != paper.jobs().end() || divider != paper.dividers().end()) {
        bool jobFirst = divider == paper.dividers().end() || (job != paper.jobs().end() && job->order < divider->order);
        if (jobFirst) {
            text += "job " + std::to_string(job->order) + " " + std::to_string(job->number) + " "
                + std::to_string(job->timeMs) + "\n";
            ++job;
            continue;
        }
        const Divider& d = *divider++;
        if (d.kind == Divider::Mark) {
            text += "mark " + std::to_string(d.order) + " " + std::to_string(d.timeMs) + " " + d.text + "\n";
        } else {
            text += "sessions " + std::to_string(d.order) + " " + std::to_string(d.timeMs) + " "
                + std::to_string(d.lastMs) + " " + std::to_string(d.opened) + " " + std::to_string(d.closed) + "\n";
        }
    }
    return text;
}

uint32_t RasterImage::widthDots() const
{
    uint32_t widest = 0;
    for (const RasterRow& row : rows) widest = std::max(widest, row.declared);
    return widest * 8;
}

size_t RasterImage::shortRows() const
{
    return std::count_if(rows.begin(), rows.end(), [](const RasterRow& row) { return row.data.size() < row.declared; });
}

std::vector<Printed> printJob(const uint8_t* bytes, size_t size) { return Reader(bytes, size).read(); }

} // namespace vprinter
