// Every failure line a unit test makes the suite print must name a line of
// the source that defines the running test's procedure (holdprobe's lines:
// the probe's source), and that line must hold a check: a reader who looks
// there finds the failing condition, not an unrelated line of another file.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/fakes/console.h"

namespace fake {

namespace {

const std::string SUITE_FAILURE = "failure: line(";
const std::string PROBE_FAILURE = "failure - ";
const char PROBE_SOURCE[] = "probe/holdprobe.cpp";

std::string sourcePath(const std::string& relative) { return std::string(DEVBENCH_SOURCE_DIR) + "/" + relative; }

// The lines of a source file, read once; empty when it cannot be read.
const std::vector<std::string>& sourceLines(const std::string& relative)
{
    static std::map<std::string, std::vector<std::string>> cache;
    auto found = cache.find(relative);
    if (found != cache.end()) return found->second;
    std::vector<std::string>& lines = cache[relative];
    std::ifstream in(sourcePath(relative));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// "testSomething" or "testSomething\n" literals in one source line.
std::vector<std::string> bannerLiterals(const std::string& line)
{
    std::vector<std::string> found;
    for (size_t at = line.find("\"test"); at != std::string::npos; at = line.find("\"test", at + 1)) {
        size_t end = at + 1;
        while (end < line.size() && isalpha(static_cast<unsigned char>(line[end]))) ++end;
        std::string name = line.substr(at + 1, end - at - 1);
        if (line.compare(end, 2, "\\n") == 0) end += 2;
        if (end < line.size() && line[end] == '"' && name.size() > 4 && isupper(static_cast<unsigned char>(name[4])))
            found.push_back(name);
    }
    return found;
}

// Banner -> the source under cases/ whose string literals hold it.
const std::map<std::string, std::string>& bannerSources()
{
    static std::map<std::string, std::string> banners;
    if (!banners.empty()) return banners;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sourcePath("cases"), error)) {
        if (entry.path().extension() != ".cpp") continue;
        std::string relative = "cases/" + entry.path().filename().string();
        for (const std::string& line : sourceLines(relative)) {
            for (const std::string& banner : bannerLiterals(line)) banners[banner] = relative;
        }
    }
    return banners;
}

void expectCheckAt(const std::string& source, unsigned long number, const std::string& line)
{
    const std::vector<std::string>& lines = sourceLines(source);
    if (lines.empty()) {
        ADD_FAILURE() << "cannot read " << sourcePath(source) << " to check: " << line;
        return;
    }
    bool holdsCheck = number >= 1 && number <= lines.size() && lines[number - 1].find("__LINE__") != std::string::npos;
    EXPECT_TRUE(holdsCheck) << "'" << line << "' names line " << number << " of " << source
                            << ", which holds no check: "
                            << (number >= 1 && number <= lines.size() ? lines[number - 1] : "(no such line)");
}

} // namespace

void expectFailureLinesNameChecks(const std::string& out)
{
    const std::map<std::string, std::string>& banners = bannerSources();
    if (banners.empty()) {
        ADD_FAILURE() << "no test banners found under " << sourcePath("cases");
        return;
    }
    // Lines printed before any banner come from helpers a unit test called
    // directly with a made-up line number: no test's source to look in.
    std::string source;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        start = end + 1;
        auto banner = banners.find(line);
        if (banner != banners.end()) {
            source = banner->second;
            continue;
        }
        if (line.compare(0, PROBE_FAILURE.size(), PROBE_FAILURE) == 0) {
            expectCheckAt(PROBE_SOURCE, strtoul(line.c_str() + PROBE_FAILURE.size(), nullptr, 10), line);
            continue;
        }
        // Test Read prints its failures after name characters, mid-line.
        for (size_t at = line.find(SUITE_FAILURE); at != std::string::npos; at = line.find(SUITE_FAILURE, at + 1)) {
            if (source.empty()) continue;
            expectCheckAt(source, strtoul(line.c_str() + at + SUITE_FAILURE.size(), nullptr, 10), line.substr(at));
        }
    }
}

} // namespace fake
