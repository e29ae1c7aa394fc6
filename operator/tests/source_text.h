// The string literals of the suite's sources, for tests that check the
// operator's tables against what the suite really prints.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vpop {

// String literals of one source file, with the escapes the cases use undone.
// Comments and character literals are skipped so a '"' opens no string.
inline std::vector<std::string> literals(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    std::vector<std::string> found;
    for (size_t i = 0; i < source.size(); ++i) {
        if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (source[i] == '\'') {
            i += source.compare(i, 2, "'\\") == 0 ? 3 : 2;
            continue;
        }
        if (source[i] != '"') continue;
        std::string value;
        for (++i; i < source.size() && source[i] != '"'; ++i) {
            if (source[i] == '\\' && i + 1 < source.size()) {
                char next = source[++i];
                value += next == 'n' ? '\n' : next;
            } else {
                value += source[i];
            }
        }
        found.push_back(value);
    }
    return found;
}

} // namespace vpop
