#include "wire/nearest_name.h"

#include <gtest/gtest.h>

namespace {

// The programs' own slips: each message must call the word unknown, and offer
// the meant name only when the slip is small enough to be one.
TEST(NearestNameTest, UnknownWordsAreCalledSoWithTheNameMeant)
{
    const std::vector<std::string> options = { "--verbose", "--dir", "--tests", "--timeout", "--port" };
    const std::vector<std::string> commands = { "serve", "set", "mark", "get" };
    struct Row {
        const char* word;
        const std::vector<std::string>& known;
        const char* message;
    } rows[] = {
        { "--verbos", options, "unknown option --verbos (did you mean --verbose?)" },
        { "--tets", options, "unknown option --tets (did you mean --tests?)" },
        { "--verb", options, "unknown option --verb (did you mean --verbose?)" },
        { "--fast", options, "unknown option --fast" },
        { "--x", options, "unknown option --x" },
        { "sevre", commands, "unknown command sevre (did you mean serve?)" },
        { "bogus", commands, "unknown command bogus" },
        { "st", commands, "unknown command st" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(wire::unknownName(row.word[0] == '-' ? "option" : "command", row.word, row.known), row.message);
}

} // namespace
