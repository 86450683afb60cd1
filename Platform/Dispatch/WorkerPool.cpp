#include "Platform/Dispatch/WorkerPool.h"

#include "Platform/Dispatch/RunCatching.h"

#include <cstdio>
#include <exception>
#include <system_error>

namespace plat {

WorkerPool& WorkerPool::shared() {
    // Leaked on purpose: workers may still be blocked in waits at exit.
    static WorkerPool* pool = new WorkerPool();
    return *pool;
}

WorkerPool::WorkerPool(std::size_t maxThreads, std::chrono::milliseconds idleTimeout)
    : maxThreads_(maxThreads == 0 ? 1 : maxThreads), idleTimeout_(idleTimeout) {}

WorkerPool::~WorkerPool() {
    std::vector<std::thread> toJoin;
    {
        std::unique_lock lk(m_);
        stopping_ = true;
        work_.notify_all();
        allExited_.wait(lk, [&] { return live_ == 0; });
        for (auto& [id, t] : threads_) toJoin.push_back(std::move(t));
        threads_.clear();
    }
    for (auto& t : toJoin) t.join();
}

void WorkerPool::submit(std::function<void()> task) {
    if (!task) return;
    {
        std::lock_guard lk(m_);
        tasks_.push_back(std::move(task));
        if (tasks_.size() > idle_ && live_ < maxThreads_) {
            spawnLocked();
        } else {
            work_.notify_one();
        }
    }
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lk(m_);
    return live_;
}

void WorkerPool::spawnLocked() {
    try {
        std::thread t([this] { workerLoop(); });
        auto id = t.get_id();
        threads_.emplace(id, std::move(t));
        ++live_;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "WorkerPool: could not start a worker thread: %s\n", e.what());
        work_.notify_one();
    }
}

void WorkerPool::workerLoop() {
    std::unique_lock lk(m_);
    for (;;) {
        if (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lk.unlock();
            runCatching(task, "WorkerPool", "task");
            task = nullptr;  // captured state dies off the lock
            lk.lock();
            continue;
        }
        if (stopping_) break;
        ++idle_;
        bool woke = work_.wait_for(lk, idleTimeout_, [&] { return !tasks_.empty() || stopping_; });
        --idle_;
        if (!woke) {
            // Idle too long: retire. No later call may come to join this
            // thread (the shared pool lives until exit), so it lets itself go.
            auto it = threads_.find(std::this_thread::get_id());
            if (it != threads_.end()) {
                it->second.detach();
                threads_.erase(it);
            }
            break;
        }
    }
    --live_;
    allExited_.notify_all();
}

} // namespace plat
