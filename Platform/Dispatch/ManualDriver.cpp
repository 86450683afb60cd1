#include "Platform/Dispatch/ManualDriver.h"

#include <chrono>

namespace plat {

namespace {
// Far enough from the epoch that nothing underflows.
constexpr auto kStart = std::chrono::hours(24);
// A block that keeps posting itself would pump forever; stop after this many rounds.
constexpr int kMaxRounds = 100000;
} // namespace

ManualDriver::ManualDriver(MainQueue& queue)
    : queue_(queue),
      now_(std::chrono::duration_cast<Clock::duration>(kStart).count()) {
    queue_.bindMainThread();
    queue_.setDriver(this);
}

ManualDriver::~ManualDriver() {
    queue_.setDriver(nullptr);
}

MainQueueDriver::Clock::time_point ManualDriver::now() const {
    return Clock::time_point(Clock::duration(now_.load()));
}

void ManualDriver::pump() {
    for (int round = 0; round < kMaxRounds; ++round) {
        queue_.runPending();
        auto next = queue_.nextDeadline();
        bool timerDue = next && *next <= now();
        if (!queue_.hasPendingBlocks() && !timerDue) return;
    }
}

void ManualDriver::advance(Clock::duration d) {
    const auto target = now() + d;
    pump();
    for (;;) {
        auto next = queue_.nextDeadline();
        if (!next || *next > target) break;
        if (*next > now()) now_.store(next->time_since_epoch().count());
        pump();
    }
    now_.store(target.time_since_epoch().count());
    pump();
}

} // namespace plat
