#pragma once
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/MainQueueDriver.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace plat {

// A main loop of its own for programs and tests without a GUI toolkit: run()
// turns the calling thread into the main thread and serves the queue there
// until stop(). Attaches to the queue on construction, detaches on destruction
// (which must not happen while the loop runs).
class RunLoopDriver : public MainQueueDriver {
public:
    explicit RunLoopDriver(MainQueue& queue);
    ~RunLoopDriver() override;
    RunLoopDriver(const RunLoopDriver&) = delete;
    RunLoopDriver& operator=(const RunLoopDriver&) = delete;

    Clock::time_point now() const override { return Clock::now(); }
    void wake() override;
    void scheduleAt(Clock::time_point t) override;

    // Serves the queue until stop().
    void run();

    // Serves the queue until pred() is true (checked on the loop thread after
    // every round), stop() is called or timeout passes. Returns pred()'s last
    // answer. Work that changes what pred looks at should be posted to the queue.
    bool runUntil(const std::function<bool()>& pred,
                  Clock::duration timeout = Clock::duration::max());

    // Ends run() or runUntil() after the current round. Callable from any thread;
    // a stop before the loop starts ends the next loop at once.
    void stop();

private:
    MainQueue& queue_;
    std::mutex m_;
    std::condition_variable cv_;
    bool woken_ = false;
    bool stopRequested_ = false;
};

} // namespace plat
