#include "Platform/Dispatch/WorkerPool.h"

#include "Platform/Dispatch/RunCatching.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <system_error>

// glibc's allocator; a sanitizer's replaces it, and glibc's trim must not run then.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define TAVIRO_TRIMS_MALLOC 1
#include <malloc.h>
#endif

namespace plat {

namespace {

// The pool whose worker this thread is, and how deep its Blocking scopes nest.
thread_local WorkerPool* tlsPool = nullptr;
thread_local int tlsBlockingDepth = 0;

// Gives the pages that freed memory still holds back to the system, at most once a
// second (the allocator keeps them in the arenas of the threads that freed them).
void giveBackFreeMemory() {
#if defined(TAVIRO_TRIMS_MALLOC)
    using Clock = std::chrono::steady_clock;
    static std::atomic<Clock::rep> last{0};
    const auto now = Clock::now().time_since_epoch().count();
    auto seen = last.load();
    if (now - seen < std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)).count()) return;
    if (!last.compare_exchange_strong(seen, now)) return;
    ::malloc_trim(0);
#endif
}

} // namespace

std::size_t WorkerPool::defaultWidth() {
    return std::max<std::size_t>(4, std::thread::hardware_concurrency());
}

WorkerPool& WorkerPool::shared() {
    // Leaked on purpose: workers may still be blocked in waits at exit.
    static WorkerPool* pool = new WorkerPool();
    return *pool;
}

WorkerPool::WorkerPool(std::size_t maxThreads, std::chrono::milliseconds idleTimeout, std::size_t width)
    : maxThreads_(maxThreads == 0 ? 1 : maxThreads),
      width_(std::clamp<std::size_t>(width, 1, maxThreads_)),
      idleTimeout_(idleTimeout) {}

WorkerPool::~WorkerPool() {
    std::vector<std::thread> toJoin;
    {
        std::unique_lock lk(m_);
        stopping_ = true;
        for (Worker* w : idle_) {
            w->woken = true;
            ++waking_;
            w->wake.notify_one();
        }
        idle_.clear();
        monitorWake_.notify_all();
        allExited_.wait(lk, [&] { return live_ == 0 && !monitorRunning_; });
        for (auto& [id, t] : threads_) toJoin.push_back(std::move(t));
        threads_.clear();
        if (monitor_.joinable()) toJoin.push_back(std::move(monitor_));
    }
    for (auto& t : toJoin) t.join();
}

void WorkerPool::submit(std::function<void()> task) {
    if (!task) return;
    std::lock_guard lk(m_);
    tasks_.push_back(std::move(task));
    dispatchLocked();
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lk(m_);
    return live_;
}

void WorkerPool::dispatchLocked() {
    // Each queued task that no worker is on its way to gets the latest idle one.
    while (tasks_.size() > waking_ && !idle_.empty()) {
        Worker* w = idle_.back();
        idle_.pop_back();
        w->woken = true;
        ++waking_;
        w->wake.notify_one();
    }
    if (tasks_.size() <= waking_) return;
    if (live_ - blocked_ < width_ && live_ < maxThreads_) {
        spawnLocked();
        return;
    }
    if (live_ >= maxThreads_) return;
    if (monitorRunning_) {
        monitorWake_.notify_one();
        return;
    }
    try {
        if (monitor_.joinable()) monitor_.detach();
        monitor_ = std::thread([this] { monitorLoop(); });
        monitorRunning_ = true;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "WorkerPool: could not start the stall monitor: %s\n", e.what());
    }
}

void WorkerPool::spawnLocked() {
    try {
        std::thread t([this] { workerLoop(); });
        auto id = t.get_id();
        threads_.emplace(id, std::move(t));
        ++live_;
        ++waking_;  // it looks at the queue first thing
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "WorkerPool: could not start a worker thread: %s\n", e.what());
    }
}

void WorkerPool::workerLoop() {
    tlsPool = this;
    Worker self;
    std::unique_lock lk(m_);
    bool retired = false;
    for (;;) {
        // Arrived (started or woken): no longer on its way.
        --waking_;
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            ++started_;
            lk.unlock();
            runCatching(task, "WorkerPool", "task");
            task = nullptr;  // captured state dies off the lock
            lk.lock();
        }
        if (stopping_) break;
        self.woken = false;
        idle_.push_back(&self);
        self.wake.wait_for(lk, idleTimeout_, [&] { return self.woken; });
        if (self.woken) continue;
        // Idle too long: retire. No later call may come to join this thread (the
        // shared pool lives until exit), so it lets itself go.
        idle_.erase(std::find(idle_.begin(), idle_.end(), &self));
        auto it = threads_.find(std::this_thread::get_id());
        if (it != threads_.end()) {
            it->second.detach();
            threads_.erase(it);
        }
        retired = true;
        break;
    }
    --live_;
    const bool quiet = retired && tasks_.empty();
    allExited_.notify_all();
    lk.unlock();
    if (quiet) giveBackFreeMemory();
}

// Runs while queued work may find every worker busy: when none of it starts for
// kStallDelay, one more worker comes, whatever the busy ones wait for.
void WorkerPool::monitorLoop() {
    std::unique_lock lk(m_);
    while (!stopping_) {
        const auto mayGrow = [&] { return stalledLocked() && live_ < maxThreads_; };
        if (!mayGrow()) {
            if (!monitorWake_.wait_for(lk, idleTimeout_, [&] { return stopping_ || mayGrow(); })) {
                monitor_.detach();
                break;
            }
            continue;
        }
        const auto seen = started_;
        monitorWake_.wait_for(lk, kStallDelay, [&] { return stopping_ || started_ != seen || !stalledLocked(); });
        if (!stopping_ && started_ == seen && mayGrow()) spawnLocked();
    }
    monitorRunning_ = false;
    allExited_.notify_all();
}

WorkerPool::Blocking::Blocking() : pool_(tlsBlockingDepth++ == 0 ? tlsPool : nullptr) {
    if (!pool_) return;
    std::lock_guard lk(pool_->m_);
    ++pool_->blocked_;
    pool_->dispatchLocked();
}

WorkerPool::Blocking::~Blocking() {
    --tlsBlockingDepth;
    if (!pool_) return;
    std::lock_guard lk(pool_->m_);
    --pool_->blocked_;
}

} // namespace plat
