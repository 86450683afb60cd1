#include "Platform/Foundation/NotificationCenter.h"

#include "Platform/Foundation/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace plat {
namespace {

TEST(NotificationCenter, CallsObserversOfTheNameInRegistrationOrder) {
    NotificationCenter center;
    std::vector<std::string> calls;
    auto t1 = center.addObserver("NeedReloadPlan", [&](const Notification&) { calls.push_back("a"); });
    auto t2 = center.addObserver("DidClickCandidate", [&](const Notification&) { calls.push_back("x"); });
    auto t3 = center.addObserver("NeedReloadPlan", [&](const Notification&) { calls.push_back("b"); });
    auto all = center.addObserver("", [&](const Notification& n) { calls.push_back("*" + n.name); });
    auto t4 = center.addObserver("NeedReloadPlan", [&](const Notification&) { calls.push_back("c"); });
    center.post("NeedReloadPlan");
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "*NeedReloadPlan", "c"}));
}

TEST(NotificationCenter, DeliversObjectAndUserInfo) {
    NotificationCenter center;
    int cell = 7;
    std::optional<Notification> got;
    auto t = center.addObserver("DidClickCandidate", [&](const Notification& n) { got = n; });
    PlistValue info;
    info["size"] = 18;
    center.post("DidClickCandidate", &cell, info);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::any_cast<int*>(got->object), &cell);
    EXPECT_EQ(got->userInfo, info);
}

TEST(NotificationCenter, DroppingTheTokenStopsDelivery) {
    NotificationCenter center;
    int a = 0, b = 0;
    auto ta = center.addObserver("n", [&](const Notification&) { ++a; });
    auto tb = center.addObserver("n", [&](const Notification&) { ++b; });
    center.post("n");
    ta.reset();
    EXPECT_FALSE(ta);
    center.post("n");
    {
        ObserverToken moved = std::move(tb);
        center.post("n");
    }
    center.post("n");
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 3);
}

TEST(NotificationCenter, ObserverMayRemoveItselfAndAddOthersDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    ObserverToken self, added, later;
    self = center.addObserver("n", [&](const Notification&) {
        calls.push_back("self");
        self.reset(); // no deadlock, no further calls
        added = center.addObserver("n", [&](const Notification&) { calls.push_back("added"); });
    });
    later = center.addObserver("n", [&](const Notification&) {
        calls.push_back("later");
        center.post("nested"); // re-entrant post on the same thread
    });
    auto nested = center.addObserver("nested", [&](const Notification&) { calls.push_back("nested"); });
    center.post("n");
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "later", "nested", "later", "nested", "added"}));
}

TEST(NotificationCenter, ObserverRemovingALaterOneSkipsIt) {
    NotificationCenter center;
    int second = 0;
    ObserverToken t2;
    auto t1 = center.addObserver("n", [&](const Notification&) { t2.reset(); });
    t2 = center.addObserver("n", [&](const Notification&) { ++second; });
    center.post("n");
    EXPECT_EQ(second, 0);
}

TEST(NotificationCenter, ThrowingObserverDoesNotStopThePost) {
    NotificationCenter center;
    int after = 0;
    auto t1 = center.addObserver("n", [](const Notification&) { throw std::runtime_error("boom"); });
    auto t2 = center.addObserver("n", [&](const Notification&) { ++after; });
    LogCapture capture;
    center.post("n");
    EXPECT_EQ(after, 1);
    EXPECT_TRUE(capture.contains("boom"));
}

TEST(NotificationCenter, PostsFromTwoThreads) {
    NotificationCenter center;
    std::mutex m;
    std::vector<int> fromA, fromB;
    auto t = center.addObserver("", [&](const Notification& n) {
        std::lock_guard lock(m);
        (n.name == "A" ? fromA : fromB).push_back(std::any_cast<int>(n.object));
    });
    auto poster = [&](const char* name) {
        for (int i = 0; i < 2000; ++i) center.post(name, i);
    };
    std::thread a(poster, "A"), b(poster, "B");
    a.join();
    b.join();
    ASSERT_EQ(fromA.size(), 2000u);
    ASSERT_EQ(fromB.size(), 2000u);
    for (int i = 0; i < 2000; ++i) { // each thread's posts arrive in its order
        EXPECT_EQ(fromA[i], i);
        EXPECT_EQ(fromB[i], i);
    }
}

TEST(NotificationCenter, RemovalWaitsForARunningObserverOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> entered{false}, release{false}, finished{false};
    auto token = std::make_unique<ObserverToken>(center.addObserver("n", [&](const Notification&) {
        entered = true;
        while (!release) std::this_thread::yield();
        finished = true;
    }));
    std::thread poster([&] { center.post("n"); });
    while (!entered) std::this_thread::yield();
    std::thread remover([&] {
        token.reset(); // must not return before the observer has finished
        EXPECT_TRUE(finished.load());
    });
    release = true;
    remover.join();
    poster.join();
    center.post("n");
    EXPECT_TRUE(finished.load());
}

TEST(NotificationCenter, TokenOutlivingItsCenterIsHarmless) {
    ObserverToken t;
    {
        NotificationCenter center;
        t = center.addObserver("n", [](const Notification&) {});
    }
    t.reset();
    SUCCEED();
}

TEST(NotificationCenter, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    int calls = 0;
    auto t = NotificationCenter::defaultCenter().addObserver("NeedReloadPlan",
                                                             [&](const Notification&) { ++calls; });
    NotificationCenter::defaultCenter().post("NeedReloadPlan");
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace plat
