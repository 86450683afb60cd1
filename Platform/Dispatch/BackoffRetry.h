#pragma once
#include "Platform/Dispatch/MainQueue.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace plat {

// Tries a piece of work again on a main queue, with growing pauses, until it
// succeeds: for work that must not wait where it is asked for (a key, a click)
// but must not be lost either. One episode runs from the first failure to the
// next success; when the work still fails after `tellAfter` retries, `stuck`
// runs once for that episode. Destroy it on the queue's thread: a retry that
// is due afterwards does nothing.
class BackoffRetry {
public:
    struct Schedule {
        std::chrono::milliseconds first{100};   // pause before the first retry, doubled each time
        std::chrono::milliseconds longest{5000}; // the pauses grow no longer than this
        int tellAfter = 5;                       // failed retries before `stuck` (about 3 s)
    };

    // `attempt` does the work and returns true when nothing is left to do.
    BackoffRetry(MainQueue& queue, std::function<bool()> attempt, std::function<void()> stuck,
                 Schedule schedule);
    BackoffRetry(MainQueue& queue, std::function<bool()> attempt, std::function<void()> stuck)
        : BackoffRetry(queue, std::move(attempt), std::move(stuck), Schedule{}) {}
    ~BackoffRetry();
    BackoffRetry(const BackoffRetry&) = delete;
    BackoffRetry& operator=(const BackoffRetry&) = delete;

    // The work failed where it was asked for: retries start unless they run already.
    void failed();
    // The work succeeded where it was asked for: the episode ends.
    void succeeded();

private:
    struct State;
    static void schedule(const std::shared_ptr<State>& state);
    static void retry(const std::shared_ptr<State>& state);
    std::shared_ptr<State> state_;
};

} // namespace plat
