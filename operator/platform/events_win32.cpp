#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "operator/platform/events.h"
#include "operator/platform/host.h"

namespace vpop {

namespace {

class Queue {
public:
    void push(Event event)
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            queue_.push_back(std::move(event));
        }
        ready_.notify_one();
    }

    Event next(double seconds)
    {
        std::unique_lock<std::mutex> hold(lock_);
        auto some = [this] { return !queue_.empty(); };
        if (seconds < 0) {
            ready_.wait(hold, some);
        } else if (!ready_.wait_for(hold, std::chrono::duration<double>(seconds), some)) {
            return {};
        }
        Event event = std::move(queue_.front());
        queue_.pop_front();
        return event;
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Event> queue_;
};

} // namespace

struct Events::State {
    std::shared_ptr<Queue> queue = std::make_shared<Queue>();
    Child* devbench = nullptr;
    std::thread reader;
    std::thread errorReader;
};

Events::Events(const EventSources& sources)
    : state_(std::make_unique<State>())
{
    state_->devbench = sources.devbench;
    // Each reader gets its pipe alone; the child's other handles change
    // while it reads.
    Child pipes;
    pipes.output = sources.devbench->output;
    pipes.error = sources.devbench->error;
    std::promise<void> errorsRead;
    std::shared_future<void> errorsEnded = errorsRead.get_future().share();
    if (pipes.error != nullptr) {
        state_->errorReader = std::thread([pipes, queue = state_->queue, done = std::move(errorsRead)]() mutable {
            char chunk[4096];
            while (size_t n = readError(pipes, chunk, sizeof chunk)) queue->push({ Event::Stderr, { chunk, n } });
            queue->push({ Event::StderrEnded, {} });
            done.set_value();
        });
    } else {
        errorsRead.set_value();
    }
    state_->reader = std::thread([pipes, errorsEnded, queue = state_->queue]() mutable {
        char chunk[4096];
        while (size_t n = readOutput(pipes, chunk, sizeof chunk)) queue->push({ Event::Output, { chunk, n } });
        // What devbench wrote on standard error before it ended comes first,
        // as it does on POSIX; a grandchild holding the pipe is not waited for.
        errorsEnded.wait_for(std::chrono::seconds(1));
        queue->push({ Event::OutputEnded, {} });
    });
    if (sources.keys) {
        // The technician may never press a key again: this reader is left
        // blocked when the run is over, and holds nothing of it but the queue.
        std::thread([queue = state_->queue] {
            char keys[256];
            while (size_t n = readKeys(keys, sizeof keys)) queue->push({ Event::Keys, { keys, n } });
            queue->push({ Event::KeysEnded, {} });
        }).detach();
    }
    onInterrupt([queue = state_->queue] { queue->push({ Event::Stop, {} }); });
}

Events::~Events() { finish(); }

Event Events::next(double seconds) { return state_->queue->next(seconds); }

// The child's whole group ends before its output is closed, so the reader
// sees the end of the output rather than a closed handle.
void Events::finish()
{
    stopReadingKeys();
    if (!state_->reader.joinable()) return;
    killChild(*state_->devbench);
    state_->reader.join();
    if (state_->errorReader.joinable()) state_->errorReader.join();
}

} // namespace vpop
