#include "Platform/Dispatch/BackoffRetry.h"

#include "Platform/Dispatch/RunCatching.h"

#include <algorithm>

namespace plat {

struct BackoffRetry::State {
    MainQueue* queue;
    std::function<bool()> attempt;
    std::function<void()> stuck;
    Schedule plan;
    // Held while the work runs, so that destruction waits for a retry under way.
    std::mutex running;
    bool alive = true; // guarded by running
    std::mutex m;
    bool scheduled = false;               // guarded by m
    int failures = 0;                     // retries failed in this episode; guarded by m
    bool told = false;                    // guarded by m
    std::chrono::milliseconds pause{0};   // guarded by m
};

BackoffRetry::BackoffRetry(MainQueue& queue, std::function<bool()> attempt, std::function<void()> stuck,
                           Schedule schedule)
    : state_(std::make_shared<State>()) {
    state_->queue = &queue;
    state_->attempt = std::move(attempt);
    state_->stuck = std::move(stuck);
    state_->plan = schedule;
    state_->pause = schedule.first;
}

BackoffRetry::~BackoffRetry() {
    std::lock_guard lock(state_->running);
    state_->alive = false;
}

void BackoffRetry::failed() {
    {
        std::lock_guard lock(state_->m);
        if (state_->scheduled) return;
        state_->scheduled = true;
    }
    schedule(state_);
}

void BackoffRetry::succeeded() {
    std::lock_guard lock(state_->m);
    state_->failures = 0;
    state_->told = false;
    state_->pause = state_->plan.first;
}

void BackoffRetry::schedule(const std::shared_ptr<State>& state) {
    std::chrono::milliseconds pause;
    {
        std::lock_guard lock(state->m);
        pause = state->pause;
        state->pause = std::min(state->pause * 2, state->plan.longest);
    }
    state->queue->after(pause, [state] { retry(state); });
}

void BackoffRetry::retry(const std::shared_ptr<State>& state) {
    std::lock_guard running(state->running);
    if (!state->alive) return;
    bool done = false;
    auto run = [&] { done = state->attempt(); };
    runCatching(run, "BackoffRetry", "retry");
    bool tell = false;
    {
        std::lock_guard lock(state->m);
        if (done) {
            state->scheduled = false;
            state->failures = 0;
            state->told = false;
            state->pause = state->plan.first;
            return;
        }
        ++state->failures;
        if (!state->told && state->failures >= state->plan.tellAfter) tell = state->told = true;
    }
    if (tell && state->stuck) {
        auto say = [&] { state->stuck(); };
        runCatching(say, "BackoffRetry", "notice");
    }
    schedule(state);
}

} // namespace plat
