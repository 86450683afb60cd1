#pragma once
#include <chrono>

namespace plat {

// What a main loop (Qt, GLib, a plain thread, a test pump) offers MainQueue.
// The driver calls MainQueue::runPending() on the main thread when woken and
// when a scheduled time has come. It must not hold a lock of its own while it
// calls into the queue: the queue calls wake() and scheduleAt() under its lock.
class MainQueueDriver {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~MainQueueDriver() = default;

    // The driver's clock; timers are due against it.
    virtual Clock::time_point now() const = 0;

    // Blocks were posted: call runPending() soon. Callable from any thread.
    virtual void wake() = 0;

    // A timer is due at t: call runPending() at or after t. The latest call
    // names the earliest timer. Callable from any thread.
    virtual void scheduleAt(Clock::time_point t) = 0;
};

} // namespace plat
