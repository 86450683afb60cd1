#pragma once
#include "Platform/Cloud/CloudRecord.h"
#include "Platform/Dispatch/SerialQueue.h"
#include "Platform/Dispatch/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace plat::cloud {

// Reports progress from an operation's work to the callback queue until the operation
// has ended (finished or timed out); later reports are dropped.
class ProgressGate {
public:
    explicit ProgressGate(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}
    void post(std::function<void()> fn) {
        if (ended_->load()) return;
        queue_->async([ended = ended_, fn = std::move(fn)] {
            if (!ended->load()) fn();
        });
    }
    void end() { ended_->store(true); }
    bool ended() const { return ended_->load(); }

private:
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<std::atomic<bool>> ended_ = std::make_shared<std::atomic<bool>>(false);
};

// Runs `work` on the worker pool and calls `completion` once on `queue` (which must outlive
// every block queued on it): with the work's
// result, or with `timedOut()` when the work has not finished within `timeout`. The
// work owns what it uses; its late result is dropped.
template <class Result>
void runOperation(std::shared_ptr<SerialQueue> queue, std::chrono::milliseconds timeout,
                  std::function<Result(const std::shared_ptr<ProgressGate>&)> work,
                  std::function<void(Result)> completion, std::function<Result()> timedOut) {
    struct State {
        std::mutex m;
        std::condition_variable cv;
        std::optional<Result> result;
    };
    auto state = std::make_shared<State>();
    auto gate = std::make_shared<ProgressGate>(queue);
    WorkerPool::shared().submit([state, gate, work = std::move(work)] {
        Result r = work(gate);
        std::lock_guard lk(state->m);
        state->result = std::move(r);
        state->cv.notify_all();
    });
    WorkerPool::shared().submit([state, gate, queue, timeout, completion = std::move(completion),
                                 timedOut = std::move(timedOut)]() mutable {
        std::unique_lock lk(state->m);
        const bool done = state->cv.wait_for(lk, timeout, [&] { return state->result.has_value(); });
        Result r = done ? std::move(*state->result) : timedOut();
        lk.unlock();
        // Progress already queued runs first; anything the work reports later is dropped.
        queue->async([gate, completion = std::move(completion), r = std::move(r)]() mutable {
            gate->end();
            completion(std::move(r));
        });
        if (!done) gate->end();
    });
}

} // namespace plat::cloud
