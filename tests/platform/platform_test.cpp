// The real platform layer, where the fakes cannot stand in: the handle count
// Test Open Port compares, and the keys a prompt drops.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
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
#endif

} // namespace
