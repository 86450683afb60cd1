#include "Platform/Dispatch/Semaphore.h"
#include "Platform/Dispatch/TaskGroup.h"
#include "Platform/Dispatch/WorkerPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

namespace plat {
namespace {

using namespace std::chrono_literals;
// Generous: only a hang or a starved pool comes near it.
constexpr auto kPatience = 30s;

TEST(WorkerPool, TasksWaitingForLaterTasksStillFinish) {
    // Task i waits for task i+1, which is submitted after it: a pool that
    // does not grow while its workers block would never reach the last one.
    constexpr int kChain = 24;
    WorkerPool pool(64, 1s);
    std::vector<std::unique_ptr<Semaphore>> go;
    for (int i = 0; i <= kChain; ++i) go.push_back(std::make_unique<Semaphore>(0));
    std::atomic<int> finished{0};
    std::atomic<int> timedOut{0};
    for (int i = 0; i < kChain; ++i) {
        pool.submit([&, i] {
            if (!go[i + 1]->waitFor(kPatience)) timedOut.fetch_add(1);
            go[i]->signal();
            finished.fetch_add(1);
        });
    }
    go[kChain]->signal();
    ASSERT_TRUE(go[0]->waitFor(kPatience));
    EXPECT_EQ(timedOut.load(), 0);
    // Destruction joins the workers, so every task has ended afterwards.
}

// Submits `count` short tasks that never wait; how many ran, and the most that ran at once.
struct Flood {
    std::atomic<int> running{0}, peak{0}, ran{0};
    void submit(WorkerPool& pool, int count) {
        for (int i = 0; i < count; ++i)
            pool.submit([this] {
                int now = running.fetch_add(1) + 1;
                int seen = peak.load();
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::yield();
                running.fetch_sub(1);
                ran.fetch_add(1);
            });
    }
};

TEST(WorkerPool, NeverRunsMoreThanItsMaximumAtOnce) {
    Flood flood;
    {
        WorkerPool pool(2, 1s);
        flood.submit(pool, 40);
    }
    EXPECT_EQ(flood.ran.load(), 40);
    EXPECT_LE(flood.peak.load(), 2);
}

TEST(WorkerPool, DestructionRunsEveryQueuedTask) {
    std::atomic<int> ran{0};
    {
        WorkerPool pool(1, 1s);
        for (int i = 0; i < 100; ++i) pool.submit([&] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(WorkerPool, IdleWorkersRetireAndThePoolGrowsAgain) {
    WorkerPool pool(8, 10ms);
    Semaphore done(0);
    for (int i = 0; i < 4; ++i) pool.submit([&] { done.signal(); });
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(done.waitFor(kPatience));
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (pool.threadCount() > 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(pool.threadCount(), 0u);
    pool.submit([&] { done.signal(); });
    EXPECT_TRUE(done.waitFor(kPatience));
}

// Like the shared pool, this one lives until exit and gets no further calls:
// its retired worker must not wait for one to be released (ThreadSanitizer
// reports threads that finish without ever being joined or detached).
TEST(WorkerPool, RetiredWorkersOfAPoolKeptUntilExitAreReleased) {
    static WorkerPool* const kept = new WorkerPool(2, 10ms);
    Semaphore done(0);
    kept->submit([&] { done.signal(); });
    ASSERT_TRUE(done.waitFor(kPatience));
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (kept->threadCount() > 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(kept->threadCount(), 0u);
}

// Bursts of tasks separated by pauses of different lengths reach idle
// workers in every state: spinning, about to sleep, asleep. A task left in
// the queue with nobody woken for it would hang its round.
TEST(WorkerPool, BurstsAfterPausesOfAnyLengthAllRun) {
    // Idle workers never retire here, so only a wake-up can start a queued task.
    WorkerPool pool(4, 1h);
    const std::chrono::microseconds pauses[] = {0us, 5us, 40us, 60us, 200us, 2ms};
    int stuckRounds = 0;
    for (int round = 0; round < 600 && stuckRounds == 0; ++round) {
        const int burst = 1 + round % 5;
        Semaphore done(0);
        for (int i = 0; i < burst; ++i) pool.submit([&] { done.signal(); });
        for (int i = 0; i < burst; ++i)
            if (!done.waitFor(kPatience)) ++stuckRounds;
        std::this_thread::sleep_for(pauses[round % std::size(pauses)]);
    }
    EXPECT_EQ(stuckRounds, 0);
    EXPECT_LE(pool.threadCount(), 4u);
}

// A task that waits for one submitted after it, while the other workers are
// idle (spinning or asleep): the later task must still get a worker.
TEST(WorkerPool, TaskWaitingForALaterOneWhileOthersIdle) {
    WorkerPool pool(8, 1h);
    for (int round = 0; round < 200; ++round) {
        Semaphore later(0), finished(0);
        pool.submit([&] {
            later.waitFor(kPatience);
            finished.signal();
        });
        if (round % 2) std::this_thread::sleep_for(100us);
        pool.submit([&] { later.signal(); });
        ASSERT_TRUE(finished.waitFor(kPatience)) << round;
    }
}

// Chains of tasks that each wait for the next one, in pools of any width: a worker
// that waits does not count against the width, so the pool grows past it.
TEST(WorkerPool, WaitsForLaterTasksFinishAtAnyWidth) {
    constexpr int kChain = 24;
    for (const std::size_t width : {std::size_t{1}, std::size_t{2}, std::size_t{64}}) {
        SCOPED_TRACE(width);
        WorkerPool pool(64, 1s, width);
        std::vector<std::unique_ptr<Semaphore>> go;
        for (int i = 0; i <= kChain; ++i) go.push_back(std::make_unique<Semaphore>(0));
        for (int i = 0; i < kChain; ++i)
            pool.submit([&, i] {
                go[i + 1]->wait();
                go[i]->signal();
            });
        go[kChain]->signal();
        ASSERT_TRUE(go[0]->waitFor(kPatience));
    }
}

// A wait the pool is not told about (a future of a task queued behind it) still
// gets its task run, one worker past the width.
TEST(WorkerPool, AnUntoldWaitForALaterTaskFinishesToo) {
    WorkerPool pool(8, 1s, 1);
    auto later = std::make_shared<std::promise<void>>();
    Semaphore finished(0);
    pool.submit([&, f = later->get_future().share()] {
        f.wait();
        finished.signal();
    });
    pool.submit([later] { later->set_value(); });
    EXPECT_TRUE(finished.waitFor(kPatience));
}

// Tasks that never wait for other tasks run at most `width` at once, however many
// are queued: a flood of them does not grow the pool.
TEST(WorkerPool, AFloodOfTasksRunsOnWidthWorkers) {
    Flood flood;
    std::size_t threads = 0;
    {
        WorkerPool pool(128, 1s, 3);
        flood.submit(pool, 2000);
        threads = pool.threadCount();
    }
    EXPECT_EQ(flood.ran.load(), 2000);
    EXPECT_LE(flood.peak.load(), 3);
    EXPECT_LE(threads, 3u);
}

// Workers grown for a burst of waiting tasks retire although tasks keep coming one
// at a time: the latest idle worker takes each, the others stay idle.
TEST(WorkerPool, SurplusWorkersRetireUnderASteadyTrickle) {
    WorkerPool pool(64, 200ms, 4);
    {
        Semaphore release(0), done(0);
        for (int i = 0; i < 32; ++i)
            pool.submit([&] {
                release.wait();
                done.signal();
            });
        const auto giveUp = std::chrono::steady_clock::now() + kPatience;
        while (pool.threadCount() < 32 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(pool.threadCount(), 32u);
        for (int i = 0; i < 32; ++i) release.signal();
        for (int i = 0; i < 32; ++i) ASSERT_TRUE(done.waitFor(kPatience));
    }
    // One task at a time, each waited for, for several idle timeouts.
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    const auto trickleUntil = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < giveUp &&
           (std::chrono::steady_clock::now() < trickleUntil || pool.threadCount() > 2)) {
        Semaphore done(0);
        pool.submit([&] { done.signal(); });
        ASSERT_TRUE(done.waitFor(kPatience));
    }
    EXPECT_LE(pool.threadCount(), 2u);
}

TEST(WorkerPool, ThrowingTaskDoesNotKillItsWorker) {
    WorkerPool pool(1, 1s);
    Semaphore done(0);
    pool.submit([] { throw 7; });
    pool.submit([&] { done.signal(); });
    EXPECT_TRUE(done.waitFor(kPatience));
}

// A group whose tasks each run a group of their own, four levels deep, every
// level waiting with a deadline as the lookups do.
int nestedLookup(int depth, std::atomic<int>& lateWaits) {
    if (depth == 0) return 1;
    TaskGroup group;
    auto sums = std::make_shared<std::vector<std::atomic<int>>>(3);
    for (int i = 0; i < 3; ++i)
        group.async([sums, i, depth, &lateWaits] { (*sums)[i] = nestedLookup(depth - 1, lateWaits); });
    if (!group.waitUntil(std::chrono::steady_clock::now() + kPatience)) lateWaits.fetch_add(1);
    int total = 0;
    for (auto& s : *sums) total += s.load();
    return total;
}

TEST(TaskGroup, NestedTimedWaitsFourDeepComplete) {
    std::atomic<int> lateWaits{0};
    // 3^4 leaves; 1 + 3 + 9 + 27 = 40 waiting tasks at the deepest point.
    EXPECT_EQ(nestedLookup(4, lateWaits), 81);
    EXPECT_EQ(lateWaits.load(), 0);
}

} // namespace
} // namespace plat
