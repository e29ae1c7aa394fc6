// Text for the records: whatever bytes devbench, a library or a printer
// printed, the JSON and XML stay valid.
#pragma once

#include <string>
#include <string_view>

namespace vpop {

// Text as valid UTF-8: every byte that starts no valid sequence becomes
// U+FFFD.
std::string validUtf8(std::string_view text);
// Character data or an attribute value; what XML 1.0 cannot hold at all
// (most control characters) becomes U+FFFD.
std::string xmlEscaped(std::string_view text, bool attribute);

} // namespace vpop
