#include <chrono>
#include <condition_variable>
#include <deque>
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
};

Events::Events(const EventSources& sources)
    : state_(std::make_unique<State>())
{
    state_->devbench = sources.devbench;
    // The reader gets the output pipe alone; the child's other handles
    // change while it reads.
    Child output;
    output.output = sources.devbench->output;
    state_->reader = std::thread([output, queue = state_->queue]() mutable {
        char chunk[4096];
        while (size_t n = readOutput(output, chunk, sizeof chunk)) queue->push({ Event::Output, { chunk, n } });
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
}

} // namespace vpop
