#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat {

// A counting semaphore. wait() takes one unit, blocking while none is left;
// signal() gives one back and wakes one waiter.
class Semaphore {
public:
    using Clock = std::chrono::steady_clock;

    explicit Semaphore(long initial = 0) : count_(initial) {}
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void wait();
    // True when a unit was taken before the deadline.
    bool waitUntil(Clock::time_point deadline);
    bool waitFor(Clock::duration timeout) { return waitUntil(Clock::now() + timeout); }
    void signal();

private:
    std::mutex m_;
    std::condition_variable cv_;
    long count_;
};

} // namespace plat
