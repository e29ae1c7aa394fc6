#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "vprinter/panel.h"
#include "vprinter/prompt_guide.h"
#include "wire/endpoint.h"

using namespace vprinter;
using namespace wire;

namespace {

std::string value(const Device& device, const std::string& key)
{
    for (const auto& [k, v] : describeState(device)) {
        if (k == key) return v;
    }
    return "?";
}

} // namespace

TEST(PanelTest, ABadWordChangesNothing)
{
    Device device;
    std::string error;
    EXPECT_FALSE(applyAssignments(device, { "cover=open", "paper=wet" }, &error));
    EXPECT_NE(error.find("paper=wet"), std::string::npos);
    EXPECT_FALSE(applyAssignments(device, { "cover=open", "lid=open" }, &error));
    EXPECT_NE(error.find("unknown setting 'lid=open'"), std::string::npos);
    EXPECT_FALSE(applyAssignments(device, { "cover" }, &error));
    EXPECT_FALSE(device.physical().coverOpen);
}

TEST(PanelTest, OnlineButtonSeesTheRestOfTheSameChange)
{
    Device device;
    ASSERT_TRUE(applyAssignments(device, { "cover=open", "paper=out" }, nullptr));
    EXPECT_EQ(value(device, "error"), "yes");
    ASSERT_TRUE(applyAssignments(device, { "online=yes", "cover=closed", "paper=in" }, nullptr));
    EXPECT_EQ(value(device, "offline"), "no");
    EXPECT_EQ(value(device, "error"), "no");
}

TEST(PanelTest, EveryKeyRoundTripsThroughTheDescription)
{
    Device device;
    std::vector<std::string> words = { "power=on", "connected=no", "cover=open", "paper=out", "online=no", "tof=in",
        "bof=in", "cof=in", "validation=in" };
    ASSERT_TRUE(applyAssignments(device, words, nullptr));
    for (const std::string& word : words) {
        size_t equals = word.find('=');
        EXPECT_EQ(value(device, word.substr(0, equals)), word.substr(equals + 1)) << word;
    }
}

TEST(PanelTest, ConsoleWords)
{
    Device device;
    bool quit = false;
    EXPECT_EQ(consoleLine(device, "  ", &quit), "");
    EXPECT_EQ(consoleLine(device, "cover=open paper=out", &quit), "");
    EXPECT_TRUE(device.physical().coverOpen);
    EXPECT_NE(consoleLine(device, "status", &quit).find("cover=open"), std::string::npos);
    EXPECT_NE(consoleLine(device, "help", &quit).find("validation=in|out"), std::string::npos);
    EXPECT_EQ(consoleLine(device, "bogus", &quit).substr(0, 7), "error: ");
    EXPECT_FALSE(quit);
    consoleLine(device, "quit", &quit);
    EXPECT_TRUE(quit);
}

// The README's table of prompts is the page's, made from the operator's own
// table; every word the operator sets has a name on the panel.
TEST(PanelTest, TheReadmeGuidesThePromptsAsThePageDoes)
{
    for (const PromptGuide& row : promptGuide()) {
        EXPECT_EQ(row.onThePage.find('='), std::string::npos) << "no panel name for a word in: " << row.words;
    }
    // Not beside __FILE__: a compiler cache may make that path relative.
    std::filesystem::path readme = std::filesystem::path(VPRINTER_SOURCE_DIR) / "README.md";
    std::ifstream in(readme);
    ASSERT_TRUE(in) << readme;
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find(promptGuideMarkdown()), std::string::npos)
        << "README.md's table of prompts differs from the printer's; it should read:\n"
        << promptGuideMarkdown();
}

TEST(EndpointTest, NamesChooseTheTransport)
{
    Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(parseEndpoint("/tmp/a:1", &endpoint, &error)) << "a path may hold a colon";
    EXPECT_EQ(endpoint.kind, Endpoint::Local);
    EXPECT_EQ(lockName(endpoint), "path-_tmp_a:1") << "no socket there: no folder in the name";
    ASSERT_TRUE(parseEndpoint("127.0.0.1:9100", &endpoint, &error));
    EXPECT_EQ(endpoint.kind, Endpoint::Tcp);
    EXPECT_EQ(endpoint.port, 9100);
    Endpoint other;
    ASSERT_TRUE(parseEndpoint("localhost:9100", &other, &error));
    EXPECT_EQ(lockName(other), lockName(endpoint)) << "two spellings of one printer share one lock";
    for (const char* bad : { "127.0.0.1:9100aReallyHorriblyBadSuffix", "[::1]:x", "localhost:" }) {
        EXPECT_FALSE(parseEndpoint(bad, &endpoint, &error)) << bad << " looks like a host and port, not a file";
    }
    ASSERT_TRUE(parseEndpoint("./a:1", &endpoint, &error));
    EXPECT_EQ(endpoint.kind, Endpoint::Local);

    EXPECT_FALSE(parseEndpoint("", &endpoint, &error));
    EXPECT_FALSE(parseEndpoint("--help", &endpoint, &error)) << "an option is never a socket file";
    EXPECT_FALSE(parseEndpoint("10.0.0.1:9100", &endpoint, &error));
    EXPECT_NE(error.find("not loopback"), std::string::npos);
    EXPECT_FALSE(parseEndpoint("127.0.0.1:65536", &endpoint, &error));
    EXPECT_FALSE(parseEndpoint("127.0.0.1:99999999999999999999", &endpoint, &error));
    EXPECT_FALSE(parseEndpoint("/tmp/" + std::string(200, 'x'), &endpoint, &error));
}
