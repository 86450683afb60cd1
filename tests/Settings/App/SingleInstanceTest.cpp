#include "Settings/App/SingleInstance.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace kelvane {
namespace {

TEST(SingleInstanceTest, ASecondStartHandsItsURLsToTheFirst) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::vector<std::string>> received;
    auto [role, first] = SingleInstance::claim({"taviromac2://tab/one"}, [&](std::vector<std::string> urls) {
        std::lock_guard lk(m);
        received.push_back(std::move(urls));
        cv.notify_all();
    });
    ASSERT_EQ(role, SingleInstance::Role::First);
    ASSERT_TRUE(first);

    auto [secondRole, second] = SingleInstance::claim({"taviromac2://tab/four", "taviromac2://functions/silence"}, {});
    EXPECT_EQ(secondRole, SingleInstance::Role::Forwarded);
    EXPECT_FALSE(second);
    auto [thirdRole, third] = SingleInstance::claim({}, {});
    EXPECT_EQ(thirdRole, SingleInstance::Role::Forwarded);

    std::unique_lock lk(m);
    ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(10), [&] { return received.size() == 2; }));
    EXPECT_EQ(received[0], (std::vector<std::string>{"taviromac2://tab/four", "taviromac2://functions/silence"}));
    EXPECT_TRUE(received[1].empty());
    lk.unlock();

    // Once the first is gone the next start runs as the first.
    first.reset();
    auto [againRole, again] = SingleInstance::claim({}, {});
    EXPECT_EQ(againRole, SingleInstance::Role::First);
}

} // namespace
} // namespace kelvane
