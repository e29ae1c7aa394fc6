#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "wire/portlock.h"

namespace {

using namespace wire;

struct Shared {
    std::atomic<int> holders;
    std::atomic<int> overlaps;
    std::atomic<int> taken;
};

// Many processes take and give back one lock as fast as they can. A holder
// removes the file as it lets go, so a locker that did not check that the
// name still names the file it locked would hold a removed file while the
// next locker holds a new one: two holders at once.
TEST(PortLockTest, ProcessesRacingToLockAndRemoveNeverHoldItTogether)
{
    const int processes = 8;
    const int rounds = 300;
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    Shared* shared = new (memory) Shared {};
    std::string name = "race-test-" + std::to_string(getpid());

    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child != 0) {
            children.push_back(child);
            continue;
        }
        for (int round = 0; round < rounds;) {
            LockHandle lock = NO_LOCK;
            std::string error;
            LockResult result = acquirePortLock(name, &lock, &error);
            if (result == LockResult::Failed) _exit(2);
            if (result == LockResult::Busy) continue;
            if (shared->holders.fetch_add(1) != 0) shared->overlaps.fetch_add(1);
            shared->taken.fetch_add(1);
            usleep(50);
            shared->holders.fetch_sub(1);
            releasePortLock(name, lock);
            ++round;
        }
        _exit(0);
    }
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a locker failed: status " << status;
    }
    EXPECT_EQ(shared->overlaps.load(), 0) << "two processes held the lock at once";
    EXPECT_EQ(shared->taken.load(), processes * rounds);
    struct stat info;
    EXPECT_NE(stat(portLockPlace(name).c_str(), &info), 0) << "the last holder left its file behind";
    munmap(memory, sizeof(Shared));
}

} // namespace
