#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace plat {

// An elastic pool of worker threads.
//
// At most `width` workers run tasks at once; a task submitted while they are all
// busy waits in the queue. A worker that waits for other tasks (inside a Blocking
// scope: TaskGroup, Semaphore and SerialQueue waits open one) does not count, so
// the pool grows past `width` for it at once, and a task that waits for work queued
// behind it never starves. Work that waits in the queue for kStallDelay while no
// task starts gets a worker too, whatever its workers wait for. Never more than
// maxThreads workers live.
//
// The most recently idle worker takes the next task, so the others stay idle and
// retire after idleTimeout; as they retire, the memory that tasks freed goes back
// to the system.
//
// Destruction runs every task already submitted, then joins all workers.
// The shared pool is never destroyed.
class WorkerPool {
public:
    static constexpr std::size_t kDefaultMaxThreads = 128;
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout{5000};
    static constexpr std::chrono::milliseconds kStallDelay{100};
    // The hardware threads, at least 4.
    static std::size_t defaultWidth();

    static WorkerPool& shared();

    explicit WorkerPool(std::size_t maxThreads = kDefaultMaxThreads,
                        std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout,
                        std::size_t width = defaultWidth());
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs task on a worker. A task that throws is logged and dropped.
    void submit(std::function<void()> task);

    // Live worker threads (idle or busy).
    std::size_t threadCount() const;

    // While one lives on a worker thread, that worker waits for other tasks and
    // does not count against its pool's width. Anywhere else it does nothing.
    class Blocking {
    public:
        Blocking();
        ~Blocking();
        Blocking(const Blocking&) = delete;
        Blocking& operator=(const Blocking&) = delete;

    private:
        WorkerPool* pool_;
    };

private:
    struct Worker {
        std::condition_variable wake;
        bool woken = false;
    };
    void workerLoop();
    void monitorLoop();
    // Wakes idle workers for queued tasks, else starts one, else has the stall
    // monitor watch.
    void dispatchLocked();
    void spawnLocked();
    bool stalledLocked() const { return tasks_.size() > waking_ && idle_.empty(); }

    mutable std::mutex m_;
    std::condition_variable allExited_;
    std::condition_variable monitorWake_;
    std::deque<std::function<void()>> tasks_;
    std::unordered_map<std::thread::id, std::thread> threads_;
    std::vector<Worker*> idle_;   // the most recently idle last
    std::size_t waking_ = 0;      // workers woken or started that have not looked at the queue yet
    std::size_t blocked_ = 0;     // workers inside a Blocking scope
    std::size_t live_ = 0;
    std::uint64_t started_ = 0;   // tasks taken from the queue
    std::thread monitor_;
    bool monitorRunning_ = false;
    std::size_t maxThreads_;
    std::size_t width_;
    std::chrono::milliseconds idleTimeout_;
    bool stopping_ = false;
};

} // namespace plat
