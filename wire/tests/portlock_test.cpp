#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
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

// Sets an environment variable for one scope, then puts back what was there.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : name_(name)
    {
        if (const char* old = getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Every program that locks asks one rule where: a chosen folder, else the
// user's runtime folder, else the user's folder in /tmp. A chosen folder
// that is not a whole path is refused, as two programs in two folders would
// take it for two places.
TEST(PortLockTest, TheLockFolderIsTheChosenOneOrTheRuntimeOneOrTheOneInTmp)
{
    std::string tmp = "/tmp/kelmorport-" + std::to_string(getuid());
    ScopedVariable runtime("XDG_RUNTIME_DIR", "/run/user/4242");
    {
        ScopedVariable chosen("KELMORPORT_LOCK_DIR", "/home/somebody/locks");
        EXPECT_EQ(portLockFolder(), "/home/somebody/locks");
    }
    ScopedVariable chosen("KELMORPORT_LOCK_DIR", "");
    EXPECT_EQ(portLockFolder(), "/run/user/4242/kelmorport");
    EXPECT_EQ(portLockPlace("x"), "/run/user/4242/kelmorport/x.lock");
    for (const char* unusable : { "", "run/user/4242" }) {
        ScopedVariable relative("XDG_RUNTIME_DIR", unusable);
        EXPECT_EQ(portLockFolder(), tmp) << unusable;
    }
    ScopedVariable relative("KELMORPORT_LOCK_DIR", "locks");
    LockHandle lock = NO_LOCK;
    std::string error;
    EXPECT_EQ(acquirePortLock("x", &lock, &error), LockResult::Failed);
    EXPECT_NE(error.find("not an absolute path"), std::string::npos) << error;
}

} // namespace
