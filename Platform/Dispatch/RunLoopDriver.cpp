#include "Platform/Dispatch/RunLoopDriver.h"

#include <algorithm>
#include <utility>

namespace plat {

RunLoopDriver::RunLoopDriver(MainQueue& queue) : queue_(queue) {
    queue_.setDriver(this);
}

RunLoopDriver::~RunLoopDriver() {
    queue_.setDriver(nullptr);
}

void RunLoopDriver::wake() {
    std::lock_guard lk(m_);
    woken_ = true;
    cv_.notify_one();
}

void RunLoopDriver::scheduleAt(Clock::time_point) {
    // The loop reads the earliest deadline from the queue on every round.
    wake();
}

void RunLoopDriver::stop() {
    std::lock_guard lk(m_);
    stopRequested_ = true;
    cv_.notify_one();
}

void RunLoopDriver::run() {
    runUntil(nullptr);
}

bool RunLoopDriver::runUntil(const std::function<bool()>& pred, Clock::duration timeout) {
    queue_.bindMainThread();
    const auto start = Clock::now();
    const auto limit = timeout >= Clock::time_point::max() - start ? Clock::time_point::max()
                                                                   : start + timeout;
    for (;;) {
        queue_.runPending();
        if (pred && pred()) return true;
        // Read the deadline before taking our lock: the queue calls wake()
        // under its own lock.
        auto next = queue_.nextDeadline();
        auto until = next ? std::min(*next, limit) : limit;
        std::unique_lock lk(m_);
        bool stopping = std::exchange(stopRequested_, false);
        if (stopping || Clock::now() >= limit) {
            lk.unlock();
            return pred ? pred() : false;
        }
        if (until == Clock::time_point::max())
            cv_.wait(lk, [&] { return woken_ || stopRequested_; });
        else
            cv_.wait_until(lk, until, [&] { return woken_ || stopRequested_; });
        woken_ = false;
    }
}

} // namespace plat
