#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Dispatch/Once.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Dispatch/TaskGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace plat {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ManualMainQueue : public ::testing::Test {
protected:
    MainQueue queue;
    ManualDriver driver{queue};
    std::vector<std::string> log;
    // Virtual milliseconds since the test started.
    long ms() const { return std::chrono::duration_cast<std::chrono::milliseconds>(driver.now() - start).count(); }
    Clock::time_point start = driver.now();
};

TEST_F(ManualMainQueue, AsyncBlocksRunInOrderOnlyWhenPumped) {
    queue.async([&] { log.push_back("a"); });
    queue.async([&] {
        log.push_back("b");
        queue.async([&] { log.push_back("d"); });  // posted while running
    });
    queue.async([&] { log.push_back("c"); });
    EXPECT_TRUE(log.empty());
    driver.pump();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(ManualMainQueue, BlocksFromOtherThreadsKeepTheirOrder) {
    TaskGroup group;
    group.async([&] {
        for (int i = 0; i < 100; ++i) queue.async([&, i] { log.push_back(std::to_string(i)); });
    });
    group.wait();
    driver.pump();
    ASSERT_EQ(log.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(log[i], std::to_string(i));
}

TEST_F(ManualMainQueue, AfterRunsAtItsVirtualTime) {
    struct Case {
        long delayMs;
        const char* name;
    };
    const Case cases[] = {{2000, "late"}, {100, "soon"}, {0, "now"}, {100, "soon2"}, {-5, "past"}};
    for (const auto& c : cases)
        queue.after(std::chrono::milliseconds(c.delayMs),
                    [&, name = std::string(c.name)] { log.push_back(name + "@" + std::to_string(ms())); });
    driver.pump();
    EXPECT_EQ(log, (std::vector<std::string>{"past@0", "now@0"}));
    driver.advance(99ms);
    EXPECT_EQ(log.size(), 2u);
    driver.advance(1ms);
    driver.advance(5s);
    EXPECT_EQ(log, (std::vector<std::string>{"past@0", "now@0", "soon@100", "soon2@100", "late@2000"}));
}

TEST_F(ManualMainQueue, RepeatingTimerTicksAndStopsWhenHandleDies) {
    std::vector<long> ticks;
    {
        Timer t = queue.repeating(100ms, [&] { ticks.push_back(ms()); });
        EXPECT_TRUE(t.isActive());
        driver.advance(350ms);
        EXPECT_EQ(ticks, (std::vector<long>{100, 200, 300}));
    }
    driver.advance(1s);
    EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(ManualMainQueue, TimersInterleaveInTimeOrder) {
    Timer fast = queue.repeating(100ms, [&] { log.push_back("f" + std::to_string(ms())); });
    Timer slow = queue.repeating(250ms, [&] { log.push_back("s" + std::to_string(ms())); });
    queue.after(150ms, [&] { log.push_back("a" + std::to_string(ms())); });
    driver.advance(500ms);
    // At 500 both are due; the one scheduled first (s, at 250) goes first.
    EXPECT_EQ(log, (std::vector<std::string>{"f100", "a150", "f200", "s250", "f300", "f400", "s500", "f500"}));
}

TEST_F(ManualMainQueue, TimerCancelledFromItsOwnTickFiresNoMore) {
    int ticks = 0;
    Timer t;
    t = queue.repeating(100ms, [&] {
        if (++ticks == 2) t.cancel();
    });
    driver.advance(1s);
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(t.isActive());
}

TEST_F(ManualMainQueue, ThrowingBlockDoesNotStopTheQueue) {
    queue.async([] { throw std::runtime_error("boom"); });
    queue.async([&] { log.push_back("after"); });
    driver.pump();
    EXPECT_EQ(log, (std::vector<std::string>{"after"}));
}

TEST_F(ManualMainQueue, MainThreadIsTheDriversThread) {
    EXPECT_TRUE(queue.isMainThread());
    std::atomic<bool> onWorker{true};
    TaskGroup group;
    group.async([&] { onWorker = queue.isMainThread(); });
    group.wait();
    EXPECT_FALSE(onWorker);
}

TEST(MainQueue, BlocksPostedBeforeADriverRunOnceOneAttaches) {
    MainQueue queue;
    int ran = 0;
    queue.async([&] { ++ran; });
    ManualDriver driver(queue);
    driver.pump();
    EXPECT_EQ(ran, 1);
}

TEST(MainQueue, SharedQueueKnowsTheProgramThread) {
    EXPECT_EQ(&MainQueue::shared(), &MainQueue::shared());
    EXPECT_TRUE(MainQueue::shared().isMainThread());  // gtest runs tests on the main thread
}

TEST(RunLoopDriver, ServesBlocksFromOtherThreadsOnTheLoopThread) {
    MainQueue queue;
    RunLoopDriver driver(queue);
    std::vector<int> seen;
    bool allOnMain = true;
    TaskGroup group;
    group.async([&] {
        for (int i = 0; i < 50; ++i)
            queue.async([&, i] {
                allOnMain = allOnMain && queue.isMainThread();
                seen.push_back(i);
            });
    });
    EXPECT_TRUE(driver.runUntil([&] { return seen.size() == 50; }, 30s));
    group.wait();
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
}

TEST(RunLoopDriver, TimersFireAndStopEndsTheLoop) {
    MainQueue queue;
    RunLoopDriver driver(queue);
    int ticks = 0;
    Timer t = queue.repeating(1ms, [&] {
        if (++ticks == 3) driver.stop();
    });
    driver.run();
    EXPECT_EQ(ticks, 3);
    bool fired = false;
    queue.after(1ms, [&] { fired = true; });
    EXPECT_TRUE(driver.runUntil([&] { return fired; }, 30s));
}

TEST(RunLoopDriver, RunUntilGivesUpAtTheTimeout) {
    MainQueue queue;
    RunLoopDriver driver(queue);
    EXPECT_FALSE(driver.runUntil([] { return false; }, 10ms));
}

TEST(Once, RunsTheInitialiserOnceAcrossThreads) {
    Once once;
    std::atomic<int> runs{0};
    TaskGroup group;
    for (int i = 0; i < 16; ++i) group.async([&] { once.run([&] { runs.fetch_add(1); }); });
    group.wait();
    EXPECT_EQ(runs.load(), 1);
}

} // namespace
} // namespace plat
