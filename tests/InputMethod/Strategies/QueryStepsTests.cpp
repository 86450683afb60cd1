// The per-query sentence shared by the querying thread and the lookup that
// needs it.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "InputMethod/Core/Engine/PinyinQuerySteps.h"

namespace taviro::test {
namespace {

using Sentence = PinyinQuerySteps::Sentence;
using Clock = std::chrono::steady_clock;

TEST(QuerySentenceTest, ComputedOnceByWhoeverComesFirst) {
    std::atomic<int> calls{0};
    const Sentence::Compute compute = [&] {
        ++calls;
        return std::optional<CodeTable>(CodeTable("nihao", "你好"));
    };
    const auto later = Clock::now() + std::chrono::seconds(30);

    Sentence filledFirst;
    filledFirst.fill(compute);
    auto got = filledFirst.get(compute, later);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->table, "你好");
    EXPECT_EQ(calls, 1);

    // Nobody filled it: the lookup works it out itself; a late fill does nothing.
    Sentence askedFirst;
    EXPECT_TRUE(askedFirst.get(compute, later));
    askedFirst.fill(compute);
    EXPECT_EQ(calls, 2);

    // Computed past the deadline: late, but still there for later askers.
    Sentence late;
    EXPECT_FALSE(late.get(compute, Clock::now() - std::chrono::seconds(1)));
    EXPECT_TRUE(late.get(compute, later));
    EXPECT_EQ(calls, 3);
}

TEST(QuerySentenceTest, WaiterGivesUpAtTheDeadline) {
    Sentence sentence;
    std::promise<void> gate;
    std::promise<void> started;
    std::thread filler([&] {
        sentence.fill([&] {
            started.set_value();
            gate.get_future().wait();
            return std::optional<CodeTable>(CodeTable("a", "啊"));
        });
    });
    started.get_future().wait();
    const Sentence::Compute never = [] { return std::optional<CodeTable>(CodeTable("x", "错")); };
    EXPECT_FALSE(sentence.get(never, Clock::now() + std::chrono::milliseconds(20)));
    gate.set_value();
    filler.join();
    auto got = sentence.get(never, Clock::now() + std::chrono::seconds(30));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->table, "啊");
}

} // namespace
} // namespace taviro::test
