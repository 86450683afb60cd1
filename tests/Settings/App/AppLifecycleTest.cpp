#include "RecordingChannelFixture.h"
#include "Settings/App/AppLifecycle.h"
#include "Settings/CommandBracket.h"

#include <atomic>
#include <thread>

namespace kelvane {
namespace {

using AppLifecycleTest = test::RecordingChannelFixture;

TEST_F(AppLifecycleTest, AJobThatOutlivesTheGraceIsClosedForTheInputMethod) {
    std::atomic<bool> release{false};
    std::atomic<bool> opened{false};
    std::thread job([&] {
        CommandBracket bracket(CommandBracket::Kind::Full);
        opened = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    EXPECT_EQ(finishBeforeExit(std::chrono::milliseconds(20)), 1);
    EXPECT_EQ(posted(), test::kFullBracket);
    // The job ends later: its bracket says nothing twice.
    release = true;
    job.join();
    EXPECT_EQ(posted(), test::kFullBracket);
}

TEST_F(AppLifecycleTest, AJobThatFinishesInTimeClosesItsOwnBracket) {
    std::atomic<bool> opened{false};
    std::thread job([&] {
        CommandBracket bracket(CommandBracket::Kind::UserDictionary);
        opened = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(finishBeforeExit(std::chrono::seconds(10)), 0);
    job.join();
    EXPECT_EQ(posted(), (std::vector<std::string>{"closeDatabase", "okToUse=false", "needsReloadDBLink",
                                                  "okToUse=true"}));
}

TEST_F(AppLifecycleTest, NothingOpenPostsNothing) {
    EXPECT_EQ(finishBeforeExit(std::chrono::milliseconds(1)), 0);
    EXPECT_TRUE(posted().empty());
}

} // namespace
} // namespace kelvane
