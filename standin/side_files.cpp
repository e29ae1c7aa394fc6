#include "standin/side_files.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex logMutex;
FILE* processLog = nullptr;
bool processLogTried = false;

// One thread closes every trace when its time comes, as a library's writer
// thread flushes and closes a session's file after the session is gone.
class TraceCloser {
public:
    void closeLater(FILE* trace, uint32_t delayMs)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_) {
            std::thread([this] { run(); }).detach();
            started_ = true;
        }
        due_.emplace(Clock::now() + std::chrono::milliseconds(delayMs), trace);
        wake_.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !due_.empty(); });
            Clock::time_point when = due_.begin()->first;
            if (Clock::now() < when) {
                wake_.wait_until(lock, when);
                continue;
            }
            FILE* trace = due_.begin()->second;
            due_.erase(due_.begin());
            lock.unlock();
            fclose(trace);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, FILE*> due_;
    bool started_ = false;
};

// Never destroyed: the detached thread may still wait on it while the
// process ends.
TraceCloser& traceCloser()
{
    static TraceCloser* closer = new TraceCloser;
    return *closer;
}

} // namespace

void openProcessLog()
{
    std::lock_guard<std::mutex> lock(logMutex);
    if (processLogTried) return;
    processLogTried = true;
    processLog = tmpfile();
}

void logNote(const char* text)
{
    std::lock_guard<std::mutex> lock(logMutex);
    if (processLog != nullptr) fprintf(processLog, "%s\n", text);
}

FILE* openTrace() { return tmpfile(); }

void closeTraceLater(FILE* trace, uint32_t delayMs)
{
    if (trace != nullptr) traceCloser().closeLater(trace, delayMs);
}

} // namespace standin
