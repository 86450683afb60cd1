#include "Platform/Foundation/Log.h"

#include <gtest/gtest.h>

#include <thread>

namespace plat {
namespace {

TEST(Log, CaptureCollectsWholeLinesFromManyThreads) {
    LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) log("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& l : lines) EXPECT_EQ(l.rfind("thread ", 0), 0u) << l;
    EXPECT_TRUE(capture.contains("thread 3 line 199"));
}

TEST(Log, NestedCapturesEachSeeTheLinesOfTheirLifetime) {
    LogCapture outer;
    log("!!!deactivate!!!");
    {
        LogCapture inner;
        log("DB Path: /x");
        EXPECT_EQ(inner.lines(), std::vector<std::string>{"DB Path: /x"});
    }
    log("after");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"!!!deactivate!!!", "DB Path: /x", "after"}));
    outer.clear();
    EXPECT_TRUE(outer.lines().empty());
    EXPECT_FALSE(outer.contains("after"));
}

} // namespace
} // namespace plat
