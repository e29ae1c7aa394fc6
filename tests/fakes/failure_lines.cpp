// Every failure line a unit test makes a test procedure print must name a
// line of the source that defines that procedure, and that line must hold a
// check: a reader who looks there finds the failing condition, not an
// unrelated line of another file.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runner/stderr_lines.h"
#include "tests/fakes/console.h"

namespace fake {

namespace {

const std::string FAILURE = "failure: line(";
const std::string CASES = std::string(DEVBENCH_SOURCE_DIR) + "/cases";

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The source under cases/ that holds the banner as a literal; empty if none.
std::string bannerSource(const std::string& banner)
{
    static std::map<std::string, std::string> sources;
    if (sources.empty()) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(CASES, error))
            sources[entry.path().string()] = readFile(entry.path());
    }
    for (const auto& [path, text] : sources) {
        if (text.find('"' + banner + "\\n\"") != std::string::npos
            || text.find('"' + banner + '"') != std::string::npos)
            return path;
    }
    return "";
}

bool isBanner(const std::string& line)
{
    if (line.compare(0, 4, "test") != 0 || line.size() < 5) return false;
    for (char c : line) {
        if (!isalpha(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

void expectCheckAt(const std::string& source, unsigned long number, const std::string& failure)
{
    std::stringstream text(readFile(source));
    std::string line;
    for (unsigned long i = 0; i < number && std::getline(text, line);) ++i;
    EXPECT_NE(line.find("__LINE__"), std::string::npos)
        << "'" << failure << "' names line " << number << " of " << source << ", which holds no check: " << line;
}

} // namespace

void expectFailureLinesNameChecks(const std::string& out)
{
    // Failure lines before any banner come from helpers a unit test called
    // directly with a made-up line number: no test's source to look in.
    std::string source;
    std::stringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (isBanner(line)) {
            source = bannerSource(line);
            EXPECT_NE(source, "") << "no source under " << CASES << " prints the banner " << line;
            continue;
        }
        // Test Read prints its failures after name characters, mid-line.
        for (size_t at = line.find(FAILURE); at != std::string::npos && !source.empty();
             at = line.find(FAILURE, at + 1))
            expectCheckAt(source, strtoul(line.c_str() + at + FAILURE.size(), nullptr, 10), line.substr(at));
    }
}

void expectAnswerAfterEachFailure(const std::string& out, const std::string& err)
{
    size_t failures = 0;
    for (size_t at = out.find(FAILURE); at != std::string::npos; at = out.find(FAILURE, at + 1)) ++failures;
    size_t answers = 0;
    std::stringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, strlen(STDERR_ANSWER_PREFIX), STDERR_ANSWER_PREFIX) != 0) continue;
        ++answers;
        size_t close = line.find("): ");
        EXPECT_NE(close, std::string::npos) << line;
        EXPECT_GT(close, strlen(STDERR_ANSWER_PREFIX)) << "an answer line names no check: " << line;
    }
    EXPECT_EQ(answers, failures) << "failure lines:\n" << out << "answer lines:\n" << err;
}

} // namespace fake
