#include "Platform/Dispatch/TaskGroup.h"

#include "Platform/Dispatch/RunCatching.h"
#include "Platform/Dispatch/WorkerPool.h"

namespace plat {

TaskGroup::TaskGroup() : state_(std::make_shared<State>()) {}

void TaskGroup::async(std::function<void()> fn) {
    if (!fn) return;
    {
        std::lock_guard lk(state_->m);
        ++state_->pending;
    }
    WorkerPool::shared().submit([st = state_, fn = std::move(fn)]() mutable {
        runCatching(fn, "TaskGroup", "task");
        fn = nullptr;  // the task's captures die before the group counts it finished
        finish(st);
    });
}

void TaskGroup::finish(const std::shared_ptr<State>& st) {
    std::vector<std::function<void()>> notifiers;
    {
        std::lock_guard lk(st->m);
        if (--st->pending == 0) {
            notifiers.swap(st->notifiers);
            st->done.notify_all();
        }
    }
    for (auto& n : notifiers) WorkerPool::shared().submit(std::move(n));
}

void TaskGroup::notify(std::function<void()> fn) {
    if (!fn) return;
    {
        std::lock_guard lk(state_->m);
        if (state_->pending > 0) {
            state_->notifiers.push_back(std::move(fn));
            return;
        }
    }
    WorkerPool::shared().submit(std::move(fn));
}

void TaskGroup::wait() {
    std::unique_lock lk(state_->m);
    if (state_->pending == 0) return;
    WorkerPool::Blocking blocking;
    state_->done.wait(lk, [&] { return state_->pending == 0; });
}

bool TaskGroup::waitUntil(Clock::time_point deadline) {
    std::unique_lock lk(state_->m);
    if (state_->pending == 0) return true;
    WorkerPool::Blocking blocking;
    return state_->done.wait_until(lk, deadline, [&] { return state_->pending == 0; });
}

} // namespace plat
