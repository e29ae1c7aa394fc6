// Record text that survives whatever bytes a library or printer sends.
#include "operator/record/text_escape.h"

namespace vpop {

namespace {

const char replacement[] = "\xEF\xBF\xBD";

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at text[i], or 0. Overlong forms,
// surrogates and code points past U+10FFFF are not valid.
size_t sequenceLength(std::string_view text, size_t i)
{
    auto at = [&](size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0; };
    unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0xC2 || lead > 0xF4) return 0;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (at(1) < low || at(1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (!continuation(at(k))) return 0;
    }
    return length;
}

} // namespace

std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = sequenceLength(text, i);
        if (length == 0) {
            out += replacement;
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string xmlEscaped(std::string_view text, bool attribute)
{
    std::string valid = validUtf8(text);
    std::string out;
    for (size_t i = 0; i < valid.size(); ++i) {
        char c = valid[i];
        // U+FFFE and U+FFFF are valid UTF-8 but no XML character.
        if (valid.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < valid.size()
            && (valid[i + 2] == '\xBE' || valid[i + 2] == '\xBF')) {
            out += replacement;
            i += 2;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        // A parser turns a literal carriage return into a newline, and any
        // white space in an attribute into a space, unless it is a reference.
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += replacement;
            } else {
                out += c;
            }
        }
    }
    return out;
}

} // namespace vpop
