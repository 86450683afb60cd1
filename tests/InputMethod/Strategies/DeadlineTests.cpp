// Slow sources: a query stops waiting at its deadline, shows what arrived
// (or the previous list), and the abandoned tasks never reach the store.
#include <gtest/gtest.h>

#include <condition_variable>

#include "InputMethod/Core/Engine/FourCodeInputStrategy.h"
#include "InputMethod/Core/Engine/SunpyInputStrategy.h"
#include "StrategyFixture.h"

namespace taviro::test {
namespace {

// Holds the chosen sources until released; records whether each held task
// went on to read its source after the hold.
class SlowSources {
public:
    void install(StrategyEnvironment& env) {
        env.beforeSource = [this](std::string_view source) { hold(source); };
        env.afterCheck = [this](std::string_view, bool proceeds) { checked(proceeds); };
    }

    void block(std::function<bool(std::string_view)> which) {
        std::lock_guard lk(m_);
        which_ = std::move(which);
    }

    // Lets the held tasks go and waits until each has passed its check.
    std::vector<bool> releaseAndCollect() {
        std::unique_lock lk(m_);
        which_ = nullptr;
        released_ = true;
        cv_.notify_all();
        const bool settled =
            cv_.wait_for(lk, std::chrono::seconds(60), [this] { return outcomes_.size() == held_; });
        EXPECT_TRUE(settled) << "held tasks did not finish";
        return outcomes_;
    }

    std::size_t heldCount() {
        std::lock_guard lk(m_);
        return held_;
    }

private:
    static thread_local bool heldHere_;

    void hold(std::string_view source) {
        std::unique_lock lk(m_);
        if (!which_ || !which_(source)) return;
        ++held_;
        heldHere_ = true;
        cv_.wait(lk, [this] { return released_; });
    }

    void checked(bool proceeds) {
        if (!heldHere_) return;
        heldHere_ = false;
        std::lock_guard lk(m_);
        outcomes_.push_back(proceeds);
        cv_.notify_all();
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::function<bool(std::string_view)> which_;
    bool released_ = false;
    std::size_t held_ = 0;
    std::vector<bool> outcomes_;
};

thread_local bool SlowSources::heldHere_ = false;

// Long enough for the unblocked queries on a loaded machine, short enough
// that waiting out a held source stays cheap.
const StrategyEnvironment::Deadlines kDeadlines{std::chrono::milliseconds(2000), std::chrono::milliseconds(1500),
                                                std::chrono::milliseconds(1500), std::chrono::milliseconds(2000)};

class DeadlineTest : public StrategyTest {};

TEST_F(DeadlineTest, SlowSunpyQueryShowsThePreviousList) {
    auto env = open();
    env.deadlines = kDeadlines;
    SlowSources slow;
    slow.install(env);
    SunpyInputStrategy strategy(env);
    strategy.waitForSetUp();

    const auto first = strategy.candidates("nihc");
    ASSERT_FALSE(first.empty());

    slow.block([](std::string_view) { return true; });
    const auto late = strategy.candidates("nihcm");
    EXPECT_EQ(words(late), words(first));
    EXPECT_GT(slow.heldCount(), 0u);

    // No abandoned task reads its source once let go.
    for (bool proceeds : slow.releaseAndCollect()) EXPECT_FALSE(proceeds);

    // The next key is answered normally again.
    EXPECT_FALSE(strategy.candidates("vsgo").empty());
    EXPECT_EQ(strategy.candidates("vsgo").front().table, "中国");
}

TEST_F(DeadlineTest, SlowShapeSourceIsDroppedFromTheMerge) {
    set([](Settings& s) { s.fourCode = 1; });
    useMainTable({{"abcd", "甲", 1}});
    useCustomPhrases({{"abcd", "自定", 0}});
    auto env = open();
    env.deadlines = kDeadlines;
    SlowSources slow;
    slow.install(env);
    FourCodeInputStrategy strategy(env);

    EXPECT_EQ(words(strategy.candidates("abcd", false)), (std::vector<std::string>{"自定", "甲"}));
    slow.block([](std::string_view source) { return source == "mainTable"; });
    EXPECT_EQ(words(strategy.candidates("abcd", false)), (std::vector<std::string>{"自定"}));
    const auto outcomes = slow.releaseAndCollect();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_FALSE(outcomes[0]);
    EXPECT_EQ(words(strategy.candidates("abcd", false)), (std::vector<std::string>{"自定", "甲"}));
}

} // namespace
} // namespace taviro::test
