#pragma once
#include "Platform/Dispatch/MainQueueDriver.h"
#include "Platform/Dispatch/Timer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <vector>

namespace plat {

// The queue of the main thread: blocks and timers that a main loop runs in
// order. Posting works from any thread; running happens where the attached
// driver calls runPending(). Without a driver, blocks wait until one attaches.
// Destroying a queue drops what has not run.
class MainQueue {
public:
    using Clock = std::chrono::steady_clock;

    static MainQueue& shared();

    MainQueue();
    ~MainQueue();
    MainQueue(const MainQueue&) = delete;
    MainQueue& operator=(const MainQueue&) = delete;

    // Runs fn on the main thread after the blocks posted before it.
    void async(std::function<void()> fn);

    // Runs fn once on the main thread after delay (by the driver's clock).
    void after(Clock::duration delay, std::function<void()> fn);

    // Runs fn every interval until the returned handle is cancelled or destroyed.
    [[nodiscard]] Timer repeating(Clock::duration interval, std::function<void()> fn);

    // True on the thread that runs this queue: the thread that created it (for
    // the shared queue, the thread that started the program) until a driver
    // binds another with bindMainThread().
    bool isMainThread() const;
    void bindMainThread();

    // Driver side. setDriver(nullptr) detaches; once it returns, the old
    // driver is not called any more.
    void setDriver(MainQueueDriver* driver);

    // Runs the blocks posted before the call, then every timer due at the
    // driver's now, in time order. Blocks that throw are logged and dropped.
    void runPending();

    // True when blocks are waiting to run.
    bool hasPendingBlocks() const;

    // When the earliest live timer is due.
    std::optional<Clock::time_point> nextDeadline() const;

private:
    struct Entry {
        Clock::time_point due;
        std::uint64_t seq;
        std::shared_ptr<Timer::State> state;
        bool repeats;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.due != b.due ? a.due > b.due : a.seq > b.seq;
        }
    };

    void addTimer(Clock::time_point due, std::shared_ptr<Timer::State> state, bool repeats);
    Clock::time_point nowLocked() const;
    static void runBlock(const std::function<void()>& fn);

    mutable std::mutex m_;
    MainQueueDriver* driver_ = nullptr;
    std::deque<std::function<void()>> blocks_;
    std::priority_queue<Entry, std::vector<Entry>, Later> timers_;
    std::uint64_t nextSeq_ = 0;
    std::atomic<std::thread::id> mainThread_;
};

} // namespace plat
