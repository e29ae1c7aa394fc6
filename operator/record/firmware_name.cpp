#include "operator/record/firmware_name.h"

namespace vpop {

namespace {

const std::string_view firmwareLead = "device firmware name: ";

bool hexLine(std::string_view text, unsigned* value)
{
    if (text.empty() || text.size() > 2) return false;
    *value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        *value = *value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

} // namespace

// Test Read prints each reply byte as a hexadecimal line and, for a name
// character, the character itself right after that line; reading the reply
// again with the test's own states tells the two apart whatever the name
// holds (digits, a newline, control characters).
std::optional<std::string> firmwareName(std::string_view console)
{
    size_t lead = console.find(firmwareLead);
    if (lead == std::string_view::npos) return std::nullopt;
    std::string_view rest = console.substr(lead + firmwareLead.size());
    static const unsigned expected[] = { 0x1B, 0x23, 0x2A, 0x2C };
    unsigned state = 0;
    std::string name;
    while (!rest.empty()) {
        size_t newline = rest.find('\n');
        unsigned byte = 0;
        if (newline == std::string_view::npos || !hexLine(rest.substr(0, newline), &byte)) return std::nullopt;
        rest.remove_prefix(newline + 1);
        if (state == 4 && byte != 0x0A) {
            if (rest.empty() || static_cast<unsigned char>(rest[0]) != byte) return std::nullopt;
            name += rest[0];
            rest.remove_prefix(1);
        } else if (state == 4 || (state < 4 && byte == expected[state])) {
            if (++state == 4) name.clear();
        } else if (state == 5 && byte == 0x00) {
            return name;
        } else {
            state = 0;
        }
    }
    return std::nullopt;
}

} // namespace vpop
