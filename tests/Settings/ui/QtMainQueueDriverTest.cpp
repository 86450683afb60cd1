#include "QtTestSupport.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Settings/ui/QtMainQueueDriver.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace kelvane {
namespace {

using namespace std::chrono_literals;

// Runs Qt's loop until pred() holds, at most `timeout`.
bool spinUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred() && std::chrono::steady_clock::now() < end) QApplication::processEvents(QEventLoop::AllEvents, 10);
    return pred();
}

TEST(QtMainQueueDriverTest, BlocksFromOtherThreadsAndTimersRunInQtsLoopInOrder) {
    test::qtApp();
    plat::MainQueue queue;
    ui::QtMainQueueDriver driver(queue);
    std::vector<int> ran;
    std::atomic<bool> offMain{false};
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            queue.async([&, i] {
                if (!queue.isMainThread()) offMain = true;
                ran.push_back(i);
            });
    });
    poster.join();
    queue.after(30ms, [&] { ran.push_back(99); });
    ASSERT_TRUE(spinUntil([&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 99}));
    EXPECT_FALSE(offMain);
}

} // namespace
} // namespace kelvane
