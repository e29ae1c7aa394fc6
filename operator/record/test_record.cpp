#include "operator/record/test_record.h"

#include <algorithm>

namespace vpop {

namespace {

void appendBounded(std::string& kept, uint64_t& dropped, std::string_view text)
{
    size_t room = MAX_CONSOLE_BYTES - std::min(kept.size(), MAX_CONSOLE_BYTES);
    kept.append(text.substr(0, room));
    dropped += text.size() - std::min(text.size(), room);
}

} // namespace

void keepFailure(std::vector<std::string>& lines, uint64_t& dropped, std::string line)
{
    if (lines.size() < MAX_FAILURE_LINES) {
        lines.push_back(std::move(line));
    } else {
        ++dropped;
    }
}

void TestRecord::addConsole(std::string_view text) { appendBounded(console, consoleDropped, text); }

void TestRecord::addStderr(std::string_view text) { appendBounded(stderrText, stderrBytesDropped, text); }

} // namespace vpop
