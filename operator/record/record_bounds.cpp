#include "operator/record/record_bounds.h"

#include <set>
#include <streambuf>
#include <vector>

#include <nlohmann/json.hpp>

#include "operator/record/text_escape.h"

namespace vpop {

namespace {

using Json = nlohmann::ordered_json;

// Deeper than any record nests (4): a JSON value's destructor recurses once
// per level.
const size_t MAX_DEPTH = 32;
// Far more than a run's tests (a matrix has about a hundred), a test's jobs
// or kept failure lines (100), or an object's fields.
const size_t MAX_ITEMS = 4096;
// The text a record may hold (a run of every test keeps at most a MiB of
// console each), and what it may cost once parsed: its text and about what
// a parsed value costs for each value and field name.
const size_t MAX_TEXT = size_t(64) << 20;
const size_t VALUE_COST = 64;
const size_t BUDGET = size_t(128) << 20;
const size_t CHUNK = 64 * 1024;

// The bytes as valid UTF-8, chunk by chunk: a sequence cut by a chunk's end
// waits for the next chunk, so the text is what validUtf8 makes of the whole.
// What went by is kept, up to MAX_TEXT.
class RepairedBytes : public std::streambuf {
public:
    RepairedBytes(const ReadBytes& read, std::string* text)
        : read_(read)
        , text_(text)
    {
    }
    bool tooLong() const { return tooLong_; }
    size_t delivered() const { return text_->size(); }

protected:
    int_type underflow() override;

private:
    const ReadBytes& read_;
    std::string* text_;
    std::string carry_;
    std::string chunk_;
    bool ended_ = false;
    bool tooLong_ = false;
};

// How many bytes at the end of `bytes` start a sequence still incomplete.
size_t unfinished(const std::string& bytes)
{
    for (size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        unsigned char c = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((c & 0xC0) == 0x80) continue;
        size_t length = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

RepairedBytes::int_type RepairedBytes::underflow()
{
    while (!ended_ && !tooLong_) {
        std::string bytes = carry_;
        bytes.resize(carry_.size() + CHUNK);
        size_t got = read_(&bytes[carry_.size()], CHUNK);
        bytes.resize(carry_.size() + got);
        ended_ = got == 0;
        size_t keep = ended_ ? 0 : unfinished(bytes);
        carry_ = bytes.substr(bytes.size() - keep);
        chunk_ = validUtf8(std::string_view(bytes).substr(0, bytes.size() - keep));
        tooLong_ = text_->size() + chunk_.size() > MAX_TEXT;
        if (chunk_.empty() || tooLong_) continue;
        text_->append(chunk_);
        setg(chunk_.data(), chunk_.data(), chunk_.data() + chunk_.size());
        return traits_type::to_int_type(chunk_[0]);
    }
    return traits_type::eof();
}

// Every event of the parser, counted against the bounds; the first one
// broken stops the parse with its reason.
class BoundsCheck : public nlohmann::json_sax<Json> {
public:
    explicit BoundsCheck(const RepairedBytes& bytes)
        : bytes_(bytes)
    {
    }
    const std::string& problem() const { return problem_; }

    bool null() override { return value(0); }
    bool boolean(bool) override { return value(0); }
    bool number_integer(number_integer_t) override { return value(0); }
    bool number_unsigned(number_unsigned_t) override { return value(0); }
    bool number_float(number_float_t, const string_t&) override { return value(0); }
    bool string(string_t& text) override { return value(text.size()); }
    bool binary(binary_t& bytes) override { return value(bytes.size()); }
    bool start_object(size_t) override { return open(true); }
    bool start_array(size_t) override { return open(false); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override;
    bool parse_error(size_t position, const std::string& token, const nlohmann::detail::exception& problem) override;

private:
    struct Open {
        bool object = false;
        size_t items = 0;
        // The field that holds it, or holds the list it is in.
        std::string name;
        std::set<std::string> names;
    };

    bool fail(const std::string& problem)
    {
        problem_ = problem;
        return false;
    }
    bool charge(size_t bytes);
    bool value(size_t bytes);
    bool open(bool object);
    bool close()
    {
        open_.pop_back();
        return true;
    }
    std::string named() const
    {
        return open_.empty() || open_.back().name.empty() ? "the record" : "\"" + open_.back().name + "\"";
    }

    const RepairedBytes& bytes_;
    std::vector<Open> open_;
    std::string key_;
    size_t cost_ = 0;
    std::string problem_;
};

bool BoundsCheck::charge(size_t bytes)
{
    cost_ += VALUE_COST + bytes;
    if (cost_ <= BUDGET) return true;
    return fail("it holds more than " + std::to_string(BUDGET >> 20) + " MiB once read, more than any run's record");
}

bool BoundsCheck::value(size_t bytes)
{
    if (!open_.empty() && !open_.back().object && ++open_.back().items > MAX_ITEMS)
        return fail(named() + " holds more than " + std::to_string(MAX_ITEMS) + " items, which no record's list does");
    return charge(bytes);
}

bool BoundsCheck::open(bool object)
{
    if (!value(0)) return false;
    if (open_.size() >= MAX_DEPTH)
        return fail("it nests more than " + std::to_string(MAX_DEPTH) + " levels deep, which no record does");
    std::string name = open_.empty() ? "" : open_.back().object ? key_ : open_.back().name;
    open_.push_back({ object, 0, name, {} });
    return true;
}

bool BoundsCheck::key(string_t& name)
{
    Open& object = open_.back();
    if (++object.items > MAX_ITEMS)
        return fail("an object in " + named() + " has more than " + std::to_string(MAX_ITEMS)
            + " fields, which no record's object does");
    if (!object.names.insert(name).second)
        return fail("\"" + name + "\" is given twice in one object, which a record never does; was it edited?");
    key_ = name;
    return charge(name.size());
}

bool BoundsCheck::parse_error(size_t position, const std::string&, const nlohmann::detail::exception& problem)
{
    if (bytes_.tooLong())
        return fail("it is over " + std::to_string(MAX_TEXT >> 20) + " MiB, too large to be a run record");
    std::string what = problem.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 1: ..."
    size_t start = what.find("] ");
    what = start == std::string::npos ? what : what.substr(start + 2);
    if (dynamic_cast<const nlohmann::detail::parse_error*>(&problem) == nullptr)
        return fail("it is not a record this vpoperator can read: " + what);
    if (position > bytes_.delivered() && bytes_.delivered() != 0)
        return fail("it is cut short (the JSON ends after " + std::to_string(bytes_.delivered())
            + " bytes, before it is complete); was the run's record still being written?");
    return fail("it is not JSON: " + what);
}

} // namespace

bool boundedRecordText(const ReadBytes& read, std::string* text, std::string* error)
{
    text->clear();
    RepairedBytes bytes(read, text);
    std::istream input(&bytes);
    BoundsCheck check(bytes);
    if (Json::sax_parse(input, &check)) return true;
    *error = check.problem();
    text->clear();
    return false;
}

} // namespace vpop
