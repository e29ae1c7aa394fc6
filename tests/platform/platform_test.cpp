// The real platform layer, where the fakes cannot stand in: the handle count
// Test Open Port compares, and the keys a prompt drops.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#endif

namespace {

TEST(Platform, HandlesCountedComeAndGo)
{
    uint32_t before = 0;
    // Wine cannot count them; then Test Open Port checks nothing.
    if (!platform::countHandles(&before)) GTEST_SKIP() << "this system does not count a process's handles";
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    uint32_t held = 0;
    ASSERT_TRUE(platform::countHandles(&held));
    EXPECT_EQ(held, before + 1);
    fclose(file);
    uint32_t after = 0;
    ASSERT_TRUE(platform::countHandles(&after));
    EXPECT_EQ(after, before);
}

#if !defined(_WIN32)
void typeKeys(int terminal, const char* keys)
{
    ASSERT_EQ(write(terminal, keys, strlen(keys)), static_cast<ssize_t>(strlen(keys)));
    // The terminal hands typed keys on to its reader a moment later.
    usleep(50 * 1000);
}

// Keys typed before a prompt, even the rest of a line whose first key was
// already read, are dropped at a terminal; piped keys are all read.
TEST(Platform, KeysTypedAheadAtATerminalAreDroppedPipedOnesKept)
{
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    int keyboard = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(keyboard, 0);
    int savedInput = dup(0);
    dup2(keyboard, 0);
    close(keyboard);
    // Before the first read of standard input in this program, as in devbench.
    platform::readKeysOneAtATime();

    typeKeys(terminal, "ab\n");
    EXPECT_EQ(getchar(), 'a');
    typeKeys(terminal, "c\n");
    platform::discardTypedKeys();
    typeKeys(terminal, "\n");
    EXPECT_EQ(getchar(), '\n') << "a key typed before the prompt answered it";

    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(write(pipeEnds[1], "x\n", 2), 2);
    close(pipeEnds[1]);
    dup2(pipeEnds[0], 0);
    close(pipeEnds[0]);
    clearerr(stdin);
    platform::discardTypedKeys();
    EXPECT_EQ(getchar(), 'x');

    dup2(savedInput, 0);
    close(savedInput);
    close(terminal);
}

// devbench at a terminal, its output read as it comes.
struct TerminalRun {
    pid_t child = -1;
    int terminal = -1;
    std::string seen;
    size_t from = 0;

    // Waits up to `ms` for `text` to appear past what was matched before.
    bool waitFor(const std::string& text, int ms)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (seen.find(text, from) == std::string::npos) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            pollfd ready = { terminal, POLLIN, 0 };
            if (left <= 0 || poll(&ready, 1, left) <= 0) return false;
            char chunk[4096];
            ssize_t n = read(terminal, chunk, sizeof chunk);
            if (n <= 0) return false;
            seen.append(chunk, static_cast<size_t>(n));
        }
        from = seen.find(text, from) + text.size();
        return true;
    }

    void type(const char* keys) { ASSERT_EQ(write(terminal, keys, strlen(keys)), static_cast<ssize_t>(strlen(keys))); }
};

// Each prompt is answered the instant its text shows, before devbench has
// even printed the newline after it: keys dropped after the prompt would
// drop that answer and leave devbench waiting for ever. Test Too Much Data
// For Parallel Port asks twice before it opens the port, which a settings
// string the library refuses then ends at once.
TEST(Platform, PromptsAnsweredTheMomentTheyShowNeverHang)
{
    const unsigned CYCLES = 500;
    const int PROMPT_WAIT_MS = 2000;
    termios settings;
    cfmakeraw(&settings);
    TerminalRun run;
    run.child = forkpty(&run.terminal, nullptr, &settings, nullptr);
    ASSERT_GE(run.child, 0);
    if (run.child == 0) {
        execl(DEVBENCH_PROGRAM, "devbench", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_TRUE(run.waitFor("Enter the port name: ", PROMPT_WAIT_MS));
    run.type("no-printer\n");
    ASSERT_TRUE(run.waitFor("Enter the port settings: ", PROMPT_WAIT_MS));
    run.type("fault=refused-by-the-library\n");
    unsigned answered = 0;
    for (unsigned cycle = 0; cycle < CYCLES; ++cycle) {
        if (!run.waitFor("or e for exit: ", PROMPT_WAIT_MS)) break;
        run.type("20\n");
        if (!run.waitFor("Turn the printer off", PROMPT_WAIT_MS)) break;
        run.type("\n");
        if (!run.waitFor("Make the printer online", PROMPT_WAIT_MS)) break;
        run.type("\n");
        answered += 2;
    }
    EXPECT_EQ(answered, 2 * CYCLES) << "devbench waited for an answer already sent; it showed:\n"
                                    << run.seen.substr(run.seen.size() > 400 ? run.seen.size() - 400 : 0);
    kill(run.child, SIGKILL);
    waitpid(run.child, nullptr, 0);
    close(run.terminal);
}
#endif

} // namespace
