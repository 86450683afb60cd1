#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace plat {

// An elastic pool of worker threads. A task submitted while no worker is idle
// gets a new thread (up to maxThreads), so a task that blocks waiting for work
// queued behind it never starves the pool. Workers idle for longer than
// idleTimeout retire.
//
// Destruction runs every task already submitted, then joins all workers.
// The shared pool is never destroyed.
class WorkerPool {
public:
    static constexpr std::size_t kDefaultMaxThreads = 256;
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout{5000};

    static WorkerPool& shared();

    explicit WorkerPool(std::size_t maxThreads = kDefaultMaxThreads,
                        std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs task on a worker. A task that throws is logged and dropped.
    void submit(std::function<void()> task);

    // Live worker threads (idle or busy).
    std::size_t threadCount() const;

private:
    void workerLoop();
    void spawnLocked();

    mutable std::mutex m_;
    std::condition_variable work_;
    std::condition_variable allExited_;
    std::deque<std::function<void()>> tasks_;
    std::unordered_map<std::thread::id, std::thread> threads_;
    std::size_t idle_ = 0;
    std::size_t live_ = 0;
    std::size_t maxThreads_;
    std::chrono::milliseconds idleTimeout_;
    bool stopping_ = false;
};

} // namespace plat
