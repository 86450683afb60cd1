#include "Platform/Dispatch/ConcurrentQueue.h"
#include "Platform/Dispatch/SealedResults.h"
#include "Platform/Dispatch/Semaphore.h"
#include "Platform/Dispatch/TaskGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <string>
#include <vector>

namespace plat {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kPatience = 30s;

TEST(TaskGroup, DeadlineTakesOnlyFinishedResultsAndLateTaskIsHarmless) {
    auto release = std::make_shared<std::latch>(1);
    auto lateOffer = std::make_shared<std::promise<bool>>();
    auto lateDone = lateOffer->get_future();
    std::vector<std::optional<std::string>> got;
    {
        TaskGroup group;
        ConcurrentQueue queue("buttonQueue");
        SealedResults<std::string> results(3);
        Semaphore fastDone(0);
        queue.async(group, [results, &fastDone] {
            results.offer(0, "fast");
            fastDone.signal();
        });
        queue.async(group, [results, release, lateOffer] {
            release->wait();
            lateOffer->set_value(results.offer(1, "late"));
        });
        ASSERT_TRUE(fastDone.waitFor(kPatience));
        EXPECT_FALSE(group.waitUntil(Clock::now() + 50ms));
        got = results.seal();
        // group, queue and this scope's results die here; the late task holds its own share.
    }
    release->count_down();
    ASSERT_EQ(lateDone.wait_for(kPatience), std::future_status::ready);
    EXPECT_FALSE(lateDone.get()) << "an offer after the seal must be dropped";
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "fast");
    EXPECT_FALSE(got[1].has_value());
    EXPECT_FALSE(got[2].has_value());
}

TEST(TaskGroup, WaitReturnsWhenAllTasksFinished) {
    TaskGroup group;
    std::atomic<int> ran{0};
    for (int i = 0; i < 20; ++i) group.async([&] { ran.fetch_add(1); });
    EXPECT_TRUE(group.waitUntil(Clock::now() + kPatience));
    EXPECT_EQ(ran.load(), 20);
    group.wait();  // nothing pending: returns at once
    TaskGroup empty;
    EXPECT_TRUE(empty.waitUntil(Clock::now() - 1s));
}

TEST(TaskGroup, ThrowingTaskCountsAsFinished) {
    TaskGroup group;
    group.async([] { throw std::runtime_error("lookup failed"); });
    EXPECT_TRUE(group.waitFor(kPatience));
}

TEST(TaskGroup, NotifyRunsAfterEveryTask) {
    TaskGroup group;
    std::latch hold(1);
    std::atomic<int> ran{0};
    for (int i = 0; i < 3; ++i)
        group.async([&] {
            hold.wait();
            ran.fetch_add(1);
        });
    std::promise<int> seen;
    group.notify([&] { seen.set_value(ran.load()); });
    hold.count_down();
    auto f = seen.get_future();
    ASSERT_EQ(f.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(f.get(), 3);

    // With nothing pending the notifier runs at once.
    std::promise<void> idle;
    TaskGroup().notify([&] { idle.set_value(); });
    EXPECT_EQ(idle.get_future().wait_for(kPatience), std::future_status::ready);
}

TEST(SealedResults, OffersFollowSlotsAndSeal) {
    SealedResults<int> r(2);
    EXPECT_TRUE(r.offer(0, 1));
    EXPECT_TRUE(r.offer(0, 2));   // a later offer replaces the earlier one
    EXPECT_FALSE(r.offer(2, 9));  // no such slot
    auto got = r.seal();
    EXPECT_EQ(got, (std::vector<std::optional<int>>{2, std::nullopt}));
    EXPECT_TRUE(r.isSealed());
    EXPECT_FALSE(r.offer(1, 5));
    EXPECT_EQ(r.seal(), (std::vector<std::optional<int>>{std::nullopt, std::nullopt}));
}

TEST(Semaphore, TimesOutWithoutUnitsAndCounts) {
    Semaphore s(0);
    EXPECT_FALSE(s.waitFor(20ms));
    s.signal();
    s.signal();
    EXPECT_TRUE(s.waitFor(0ms));
    EXPECT_TRUE(s.waitUntil(Clock::now()));
    EXPECT_FALSE(s.waitUntil(Clock::now()));

    Semaphore lock(1);  // used as a mutex
    lock.wait();
    EXPECT_FALSE(lock.waitFor(10ms));
    lock.signal();
    EXPECT_TRUE(lock.waitFor(0ms));
}

TEST(Semaphore, SignalFromAnotherThreadWakesWaiter) {
    Semaphore s(0);
    std::atomic<bool> woke{false};
    TaskGroup group;
    group.async([&] { woke = s.waitFor(kPatience); });
    s.signal();
    group.wait();
    EXPECT_TRUE(woke);
}

} // namespace
} // namespace plat
