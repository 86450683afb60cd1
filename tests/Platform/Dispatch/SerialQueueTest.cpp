#include "Platform/Dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace plat {
namespace {

TEST(SerialQueue, AsyncBlocksRunInSubmissionOrderOneAtATime) {
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    {
        SerialQueue q("order");
        for (int i = 0; i < 200; ++i) {
            q.async([&, i] {
                if (running.fetch_add(1) != 0) overlapped = true;
                seen.push_back(i);
                running.fetch_sub(1);
            });
        }
        // A sync after the asyncs runs after all of them.
        size_t atSync = q.sync([&] { return seen.size(); });
        EXPECT_EQ(atSync, 200u);
    }
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncFromManyThreadsIsSerialised) {
    SerialQueue q("many");
    long counter = 0;  // guarded by the queue only
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                if (i % 3 == 0)
                    q.async([&] { ++counter; });
                else
                    q.sync([&] { ++counter; });
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(q.sync([&] { return counter; }), 8 * 500);
}

TEST(SerialQueue, CurrentNamesTheInnermostQueue) {
    SerialQueue a("a"), b("b");
    EXPECT_EQ(SerialQueue::current(), nullptr);
    a.sync([&] {
        EXPECT_TRUE(a.isCurrent());
        EXPECT_EQ(SerialQueue::current(), &a);
        b.sync([&] {
            EXPECT_EQ(SerialQueue::current(), &b);
            EXPECT_FALSE(a.isCurrent());
            EXPECT_TRUE(a.isHeldByCurrentThread());
        });
        EXPECT_EQ(SerialQueue::current(), &a);
    });
    EXPECT_EQ(SerialQueue::current(), nullptr);
    std::promise<SerialQueue*> fromAsync;
    a.async([&] { fromAsync.set_value(SerialQueue::current()); });
    EXPECT_EQ(fromAsync.get_future().get(), &a);
}

TEST(SerialQueue, SyncFromAnotherQueuesAsyncBlockWorks) {
    SerialQueue a("a"), b("b");
    std::promise<int> done;
    b.async([] { std::this_thread::yield(); });  // b busy or queued
    a.async([&] { done.set_value(b.sync([] { return 42; })); });
    EXPECT_EQ(done.get_future().get(), 42);
}

TEST(SerialQueue, SyncReturnsValueAndPropagatesException) {
    SerialQueue q("values");
    EXPECT_EQ(q.sync([] { return std::string("x"); }), "x");
    EXPECT_THROW(q.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    // The queue is usable after a throwing block.
    EXPECT_EQ(q.sync([] { return 7; }), 7);
    // Const callables and reference results pass through.
    int x = 1;
    const auto bump = [&x] { ++x; };
    q.sync(bump);
    int& ref = q.sync([&x]() -> int& { return x; });
    EXPECT_EQ(&ref, &x);
    EXPECT_EQ(x, 2);
}

TEST(SerialQueue, ThrowingAsyncBlockDoesNotStopTheQueue) {
    SerialQueue q("throws");
    q.async([] { throw std::runtime_error("async boom"); });
    std::atomic<bool> ran{false};
    q.async([&] { ran = true; });
    q.sync([] {});
    EXPECT_TRUE(ran);
}

TEST(SerialQueue, DestructionWaitsForQueuedBlocks) {
    std::atomic<int> ran{0};
    {
        SerialQueue q("dtor");
        for (int i = 0; i < 50; ++i) q.async([&] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 50);
}

using SerialQueueDeathTest = ::testing::Test;

TEST_F(SerialQueueDeathTest, ReentrantSyncAbortsWithTheGivenMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto reenter = [] {
        SerialQueue q("reentry");
        q.sync([&] {
            q.syncCheckingReentry(
                [] {}, "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock");
        });
    };
    EXPECT_DEATH(reenter(),
                 "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock");
}

TEST_F(SerialQueueDeathTest, EveryReentrantPathAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* name;
        void (*run)();
    };
    const Case cases[] = {
        {"sync inside sync",
         [] {
             SerialQueue q("outer");
             q.sync([&] { q.sync([] {}); });
         }},
        {"sync inside an async block",
         [] {
             SerialQueue q("outer");
             q.async([&] { q.sync([] {}); });
             q.sync([] {});  // waits behind the async block, which dies
         }},
        {"sync through another queue's block",
         [] {
             SerialQueue a("outer");
             SerialQueue b("inner");
             a.sync([&] { b.sync([&] { a.sync([] {}); }); });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.run(), "SerialQueue outer: sync was called reentrantly");
    }
}

} // namespace
} // namespace plat
