// A scripted printer for the status and checked-block tests. What the fake
// library reports follows how many operator prompts have been answered, the
// way a real printer follows what the operator did at each prompt; a test
// names the printer's states, not the calls the suite makes.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/fakes/console.h"
#include "tests/fakes/fake_port.h"

namespace script {

// The printer once a prompt is answered: the record words it shows (every
// other word 0), whether it can be reached, and how long a status call takes.
struct State {
    std::map<uint32_t, VX_BOOL> words;
    bool connected = true;
    uint32_t callMs = 0;
};
typedef std::vector<State> Script;

inline State online() { return State(); }

inline State disconnected()
{
    State state;
    state.connected = false;
    return state;
}

inline State coverAndPaperOut(uint32_t paperEmptyOffset)
{
    State state;
    state.words = { { VX_OFFSET_OFFLINE, 1 }, { VX_OFFSET_COVER_OPEN, 1 }, { paperEmptyOffset, 1 } };
    return state;
}

// Every prompt reads one character, so the input position counts the answers.
inline size_t promptsAnswered()
{
    long at = ftell(stdin);
    return at < 0 ? 0 : static_cast<size_t>(at);
}

// State i holds once prompt i + 1 is answered; the last state holds after
// the script runs out.
inline const State& current(const Script& script)
{
    size_t answered = promptsAnswered();
    return script[std::min(answered == 0 ? 0 : answered - 1, script.size() - 1)];
}

inline VX_BOOL report(const Script& script, unsigned char* record, uint32_t size)
{
    const State& state = current(script);
    fake::advance(state.callMs);
    if (!state.connected) return VX_FALSE;
    memset(record, 0, size);
    for (const auto& word : state.words) fake::setWord(record, word.first, word.second);
    return VX_TRUE;
}

// The online query agrees with the record's offline word.
inline VX_BOOL reportOnline(const Script& script, VX_BOOL* online)
{
    const State& state = current(script);
    if (!state.connected) return VX_FALSE;
    auto offline = state.words.find(VX_OFFSET_OFFLINE);
    *online = offline == state.words.end() || offline->second == 0 ? VX_TRUE : VX_FALSE;
    return VX_TRUE;
}

// Serves the parsed-status and online queries, Begin and End from the script.
inline void follow(const Script& script)
{
    fake::Library& lib = fake::library();
    lib.onlineStatus = [script](PortHandle, VX_BOOL* online) { return reportOnline(script, online); };
    lib.parsedStatus
        = [script](PortHandle, unsigned char* record, uint32_t size) { return report(script, record, size); };
    lib.beginBlock
        = [script](PortHandle, unsigned char* record) { return report(script, record, VX_STATUS_LEVEL1_SIZE); };
    lib.endBlock = lib.beginBlock;
}

// More answers than any test asks for, so a missing prompt cannot hang.
const char* const ENOUGH_INPUT = "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n";

inline std::string run(bool (*test)(const char*, const char*), bool& passed)
{
    return fake::runConsole(ENOUGH_INPUT, [&] { passed = test("COM1", "settings"); });
}

// No call on a closed handle or with a level other than 1, no handle left open.
inline void expectCleanCalls()
{
    for (const std::string& call : fake::library().calls) EXPECT_EQ(call.find("BAD-"), std::string::npos) << call;
    EXPECT_EQ(fake::library().openHandles, 0);
    EXPECT_EQ(fake::library().badCloses, 0);
}

// Exactly one failure line, the last one, ending in text and printed after
// the port was closed.
inline void expectFailure(const std::string& out, const std::string& text)
{
    fake::expectFailureAfterClose(out, text);
    expectCleanCalls();
}

} // namespace script
