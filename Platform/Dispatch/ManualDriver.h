#pragma once
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/MainQueueDriver.h"

#include <atomic>

namespace plat {

// A main-queue driver for tests: nothing runs until the test pumps, and time
// is a virtual clock that only advance() moves. Attaches to the queue on
// construction (binding the constructing thread as the main thread) and
// detaches on destruction.
class ManualDriver : public MainQueueDriver {
public:
    explicit ManualDriver(MainQueue& queue);
    ~ManualDriver() override;
    ManualDriver(const ManualDriver&) = delete;
    ManualDriver& operator=(const ManualDriver&) = delete;

    Clock::time_point now() const override;
    void wake() override {}
    void scheduleAt(Clock::time_point) override {}

    // Runs posted blocks and due timers until nothing more is due now.
    void pump();

    // Moves the clock forward by d, stopping at every timer due on the way so
    // that timers run in time order, each at its own virtual time.
    void advance(Clock::duration d);

private:
    MainQueue& queue_;
    std::atomic<Clock::rep> now_;
};

} // namespace plat
