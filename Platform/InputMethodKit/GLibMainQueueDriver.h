#pragma once
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/MainQueueDriver.h"

#include <chrono>
#include <mutex>

namespace plat {

// Serves a MainQueue from the default GLib main context (the loop Qt's GLib
// dispatcher and the IBus engine run on). Attaches on construction, on the
// thread that becomes the main thread; detaches on destruction.
class GLibMainQueueDriver : public MainQueueDriver {
public:
    explicit GLibMainQueueDriver(MainQueue& queue);
    ~GLibMainQueueDriver() override;
    GLibMainQueueDriver(const GLibMainQueueDriver&) = delete;
    GLibMainQueueDriver& operator=(const GLibMainQueueDriver&) = delete;

    Clock::time_point now() const override { return Clock::now(); }
    void wake() override;
    void scheduleAt(Clock::time_point t) override;

    struct Source;

private:
    friend struct Source;
    MainQueue& queue_;
    Source* source_ = nullptr;
    std::mutex m_;
    bool pending_ = false;
    Clock::time_point deadline_ = Clock::time_point::max();
};

} // namespace plat
