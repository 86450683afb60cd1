#include "Platform/Notifications/Command.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "Platform/Notifications/CommandReceiver.h"
#include "Platform/Notifications/DBusCommandChannel.h"
#include "Platform/Notifications/RecordingCommandChannel.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Foundation/Log.h"
#include "InputMethod/App/PrivateBus.h"

#include <sdbus-c++/sdbus-c++.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// sdbus-c++ 1.2 keeps the bus it allocated when connecting to an explicit
// address fails (its address factory returns without unreferencing it). Only
// these tests pass an address, so that one library frame is suppressed; the
// slow unwinder is needed for the suppression to see past libsystemd.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() {
    return "leak:sdbus::internal::SdBus::sd_bus_open_user_with_address\n";
}
#endif

namespace {

using plat::Command;
using plat::CommandValue;
namespace cmd = plat::command;

Command withInfo(std::string name, std::string key, CommandValue value) {
    Command c{std::move(name), {}};
    c.userInfo.emplace(std::move(key), std::move(value));
    return c;
}

struct ValidateCase {
    const char* name;
    Command input;
    std::optional<Command> expected;
};

class ValidateCommandTest : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateCommandTest, ChecksUserInfo) {
    EXPECT_EQ(plat::validateCommand(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidateCommandTest,
    ::testing::Values(
        ValidateCase{"plain", Command::plain("closeDatabase"), Command::plain("closeDatabase")},
        ValidateCase{"ok_false", withInfo("okToUse", "okToUse", false), withInfo("okToUse", "okToUse", false)},
        ValidateCase{"ok_missing", Command::plain("okToUse"), std::nullopt},
        ValidateCase{"ok_as_string", withInfo("okToUse", "okToUse", std::string("false")), std::nullopt},
        ValidateCase{"ok_as_int", withInfo("okToUse", "okToUse", int64_t{0}), std::nullopt},
        ValidateCase{"panel", withInfo("switchCandidatesPanel", "name", std::string("竖排候选栏")),
                     withInfo("switchCandidatesPanel", "name", std::string("竖排候选栏"))},
        ValidateCase{"panel_as_bool", withInfo("switchCandidatesPanel", "name", true), std::nullopt},
        ValidateCase{"size", withInfo("setFontSize", "size", int64_t{18}),
                     withInfo("setFontSize", "size", int64_t{18})},
        ValidateCase{"size_as_string", withInfo("setFontSize", "size", std::string("18")), std::nullopt},
        ValidateCase{"size_unsupported_type", withInfo("setFontSize", "size", std::monostate{}), std::nullopt},
        ValidateCase{"wrong_typed_extra_dropped", withInfo("configNeedsReload", "size", std::string("x")),
                     Command::plain("configNeedsReload")},
        ValidateCase{"empty_name", Command::plain(""), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordingCommandChannelTest, LogsCommandsWithArguments) {
    plat::RecordingCommandChannel channel;
    channel.post(withInfo("okToUse", "okToUse", false));
    channel.post(Command::plain("closeDatabase"));
    channel.post(withInfo("setFontSize", "size", int64_t{24}));
    EXPECT_EQ(channel.log(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "setFontSize=24"}));
    channel.clear();
    EXPECT_TRUE(channel.log().empty());
}

TEST(DBusCommandChannelTest, WithoutBusCommandsAreDroppedQuietly) {
    plat::DBusCommandChannel channel(std::string("unix:path=/nonexistent/kelvane-test-bus"));
    for (int i = 0; i < 3; ++i) channel.post(Command::plain("configNeedsReload"));
    EXPECT_TRUE(channel.flush(std::chrono::seconds(10)));
    EXPECT_EQ(channel.droppedCount(), 3u);
    EXPECT_EQ(plat::CommandReceiver::start([](const Command&) {}, [](std::function<void()> f) { f(); },
                                           std::string("unix:path=/nonexistent/kelvane-test-bus")),
              nullptr);
}

TEST(DBusCommandChannelTest, AFullQueueNeverDropsABracketCloser) {
    // A sender stuck on its first command, as on a bus that takes nothing.
    struct Stuck {
        std::mutex m;
        std::condition_variable cv;
        bool holding = false, released = false;
        std::vector<std::string> sent;
    };
    auto stuck = std::make_shared<Stuck>();
    plat::DBusCommandChannel channel([stuck](const Command& c) {
        std::unique_lock lk(stuck->m);
        stuck->holding = true;
        stuck->cv.notify_all();
        stuck->cv.wait_for(lk, std::chrono::seconds(30), [&] { return stuck->released; });
        std::string line = c.name;
        if (auto flag = c.boolValue("okToUse")) line += *flag ? "=true" : "=false";
        stuck->sent.push_back(line);
        return true;
    });
    channel.post(withInfo("okToUse", "okToUse", false));
    {
        // The sender holds it, so the queue itself fills.
        std::unique_lock lk(stuck->m);
        ASSERT_TRUE(stuck->cv.wait_for(lk, std::chrono::seconds(10), [&] { return stuck->holding; }));
    }
    for (size_t i = 0; i < plat::DBusCommandChannel::kMaxQueued; ++i) channel.post(Command::plain("configNeedsReload"));
    EXPECT_EQ(channel.droppedCount(), 0u);

    channel.post(Command::plain("closeDatabase"));              // no room: dropped, and logged
    channel.post(Command::plain("needsReloadDBLink"));          // closers always go in
    channel.post(withInfo("okToUse", "okToUse", true));
    EXPECT_EQ(channel.droppedCount(), 1u);

    {
        std::lock_guard lk(stuck->m);
        stuck->released = true;
        stuck->cv.notify_all();
    }
    ASSERT_TRUE(channel.flush(std::chrono::seconds(30)));
    std::lock_guard lk(stuck->m);
    ASSERT_EQ(stuck->sent.size(), plat::DBusCommandChannel::kMaxQueued + 3);
    EXPECT_EQ(stuck->sent.front(), "okToUse=false");
    EXPECT_EQ(std::count(stuck->sent.begin(), stuck->sent.end(), "closeDatabase"), 0);
    EXPECT_EQ(stuck->sent[stuck->sent.size() - 2], "needsReloadDBLink");
    EXPECT_EQ(stuck->sent.back(), "okToUse=true");
}

TEST(DBusCommandChannelTest, ClosersAreTheCommandsThatEndABracket) {
    EXPECT_TRUE(plat::DBusCommandChannel::closesBracket(Command::plain("needsReloadDBLink")));
    EXPECT_TRUE(plat::DBusCommandChannel::closesBracket(withInfo("okToUse", "okToUse", true)));
    EXPECT_FALSE(plat::DBusCommandChannel::closesBracket(withInfo("okToUse", "okToUse", false)));
    EXPECT_FALSE(plat::DBusCommandChannel::closesBracket(Command::plain("closeDatabase")));
    EXPECT_FALSE(plat::DBusCommandChannel::closesBracket(Command::plain("configNeedsReload")));
}

// Test processes may share one session bus and hear each other's commands: every
// command a test sends carries the "tag" entry of its own process and test.
std::string testTag() {
    return "pid" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

Command tagged(Command c) {
    c.userInfo.emplace("tag", testTag());
    return c;
}

bool isMine(const Command& c) { return c.stringValue("tag") == testTag(); }

// Collects what a receiver hands over, as a stand-in for the main queue.
class Inbox {
public:
    void add(const Command& c) {
        if (!isMine(c)) return;
        std::lock_guard lk(m_);
        got_.push_back(c);
        cv_.notify_all();
    }
    std::vector<Command> waitFor(size_t n) {
        std::unique_lock lk(m_);
        cv_.wait_for(lk, std::chrono::seconds(20), [&] { return got_.size() >= n; });
        return got_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Command> got_;
};

class DBusRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus";
        receiver_ = plat::CommandReceiver::start([this](const Command& c) { inbox_.add(c); },
                                                 [](std::function<void()> f) { f(); });
        ASSERT_NE(receiver_, nullptr);
    }
    Inbox inbox_;
    std::unique_ptr<plat::CommandReceiver> receiver_;
};

TEST_F(DBusRoundTripTest, ReceiverGetsCommandsWithUserInfoInOrder) {
    plat::DBusCommandChannel channel;
    std::vector<Command> sent;
    for (int i = 0; i < 300; ++i) {
        switch (i % 4) {
        case 0: sent.push_back(tagged(withInfo(cmd::kOkToUse, cmd::kOkToUseKey, i % 8 == 0))); break;
        case 1: sent.push_back(tagged(Command::plain(cmd::kCloseDatabase))); break;
        case 2: sent.push_back(tagged(withInfo(cmd::kSetFontSize, cmd::kSizeKey, int64_t{i}))); break;
        default:
            sent.push_back(tagged(withInfo(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string(cmd::kVerticalPanel))));
        }
    }
    for (const auto& c : sent) channel.post(c);
    ASSERT_TRUE(channel.flush(std::chrono::seconds(20)));
    EXPECT_EQ(inbox_.waitFor(sent.size()), sent);
    EXPECT_EQ(channel.droppedCount(), 0u);
}

TEST_F(DBusRoundTripTest, OrderHoldsAcrossPostingThreads) {
    plat::DBusCommandChannel channel;
    // Each thread posts after the previous one has posted: arrival follows post order.
    std::vector<Command> sent;
    for (int i = 0; i < 20; ++i) {
        Command c = tagged(withInfo(cmd::kSetFontSize, cmd::kSizeKey, int64_t{i}));
        sent.push_back(c);
        std::thread([&channel, c] { channel.post(c); }).join();
    }
    ASSERT_TRUE(channel.flush(std::chrono::seconds(20)));
    EXPECT_EQ(inbox_.waitFor(sent.size()), sent);
}

TEST_F(DBusRoundTripTest, MalformedSignalsAreIgnored) {
    auto conn = sdbus::createSessionBusConnection();
    auto object = sdbus::createObject(*conn, cmd::kObjectPath);
    // Wrong value type for "okToUse", then a signal of another signature.
    const sdbus::Variant tag(testTag());
    std::map<std::string, sdbus::Variant> badInfo{{"okToUse", sdbus::Variant(std::string("yes"))}, {"tag", tag}};
    object->emitSignal(cmd::kMember).onInterface(cmd::kInterface).withArguments(std::string("okToUse"), badInfo);
    object->emitSignal(cmd::kMember).onInterface(cmd::kInterface).withArguments(int32_t{7});
    std::map<std::string, sdbus::Variant> good{{"okToUse", sdbus::Variant(true)}, {"tag", tag}};
    object->emitSignal(cmd::kMember).onInterface(cmd::kInterface).withArguments(std::string("okToUse"), good);
    auto got = inbox_.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], tagged(withInfo("okToUse", "okToUse", true)));
}

// Commands far larger than any real one are refused as they are read, each with a log
// line; a real command sent after them still arrives.
TEST_F(DBusRoundTripTest, OversizedCommandsAreRefused) {
    auto conn = sdbus::createSessionBusConnection();
    auto object = sdbus::createObject(*conn, cmd::kObjectPath);
    const sdbus::Variant tag(testTag());
    std::map<std::string, sdbus::Variant> manyEntries{{"tag", tag}};
    for (int i = 0; i < 1000; ++i) manyEntries.emplace("k" + std::to_string(i), sdbus::Variant(int64_t{i}));
    const std::map<std::string, sdbus::Variant> cases[] = {
        manyEntries,
        {{"name", sdbus::Variant(std::string(100000, 'x'))}, {"tag", tag}},
        {{std::string(5000, 'k'), sdbus::Variant(true)}, {"tag", tag}},
        {{"name", sdbus::Variant(std::vector<std::string>(1000, "x"))}, {"tag", tag}},
    };
    plat::LogCapture logged;
    for (const auto& info : cases)
        object->emitSignal(cmd::kMember).onInterface(cmd::kInterface).withArguments(std::string(cmd::kSwitchCandidatesPanel), info);
    object->emitSignal(cmd::kMember).onInterface(cmd::kInterface).withArguments(std::string(cmd::kNeedsReloadDBLink),
                                                                              std::map<std::string, sdbus::Variant>{{"tag", tag}});
    auto got = inbox_.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], tagged(Command::plain(cmd::kNeedsReloadDBLink)));
    std::size_t refused = 0;
    for (const auto& line : logged.lines()) refused += line.find("refused a command") != std::string::npos;
    EXPECT_GE(refused, std::size(cases));
}

// Only a body of exactly "sa{sv}" is a command: one with more arguments after it, or
// any other signature, is refused with a log line and never obeyed.
TEST_F(DBusRoundTripTest, AnyOtherSignatureIsRefused) {
    auto conn = sdbus::createSessionBusConnection();
    auto object = sdbus::createObject(*conn, cmd::kObjectPath);
    const std::map<std::string, sdbus::Variant> hold{{"okToUse", sdbus::Variant(false)},
                                                     {"tag", sdbus::Variant(testTag())}};
    auto emit = [&](const auto&... args) {
        object->emitSignal(cmd::kMember).onInterface(cmd::kInterface).withArguments(args...);
    };
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"(sa{sv}s)", [&] { emit(std::string("okToUse"), hold, std::string("more")); }},
        {"(sa{sv}b)", [&] { emit(std::string("okToUse"), hold, false); }},
        {"(sa{sv}a{sv})", [&] { emit(std::string("okToUse"), hold, hold); }},
        {"(s)", [&] { emit(std::string("okToUse")); }},
        {"(sa{ss})", [&] {
             emit(std::string("okToUse"), std::map<std::string, std::string>{{"okToUse", "no"}});
         }},
        {"(i)", [&] { emit(int32_t{7}); }},
    };
    plat::LogCapture logged;
    for (const auto& [signature, send] : cases) send();
    const std::map<std::string, sdbus::Variant> good{{"okToUse", sdbus::Variant(true)},
                                                     {"tag", sdbus::Variant(testTag())}};
    emit(std::string("okToUse"), good);
    auto got = inbox_.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], tagged(withInfo("okToUse", "okToUse", true)));
    std::size_t refused = 0;
    for (const auto& line : logged.lines()) refused += line.find("not of signature sa{sv}") != std::string::npos;
    EXPECT_EQ(refused, cases.size()) << ::testing::PrintToString(logged.lines());
}

// The session bus ends under a listening receiver (the end of a desktop session):
// the receiver says so through the executor, once, and the process goes on; no
// exception leaves the bus thread. Its end afterwards is quiet too.
TEST(DBusBusGoneTest, ALostBusIsReportedNotThrown) {
    taviro::test::PrivateBus bus;
    if (!bus.ok()) GTEST_SKIP() << "dbus-daemon did not start";
    std::mutex m;
    std::condition_variable cv;
    int lost = 0;
    auto executor = [&](std::function<void()> fn) {
        std::lock_guard lk(m);
        fn();
        cv.notify_all();
    };
    plat::LogCapture logged;
    auto receiver = plat::CommandReceiver::start([](const Command&, const std::string&) {}, [](const std::string&) {},
                                                 executor, std::nullopt, [&] { ++lost; });
    ASSERT_NE(receiver, nullptr);
    plat::DBusCommandChannel channel;
    channel.post(Command::plain(cmd::kCloseDatabase));
    ASSERT_TRUE(channel.flush(std::chrono::seconds(10)));

    bus.stop();
    {
        std::unique_lock lk(m);
        EXPECT_TRUE(cv.wait_for(lk, std::chrono::seconds(10), [&] { return lost > 0; }));
    }
    EXPECT_TRUE(logged.contains("the session bus is gone"));
    // The sender meets the dead bus as well: it drops and says so.
    channel.post(Command::plain(cmd::kCloseDatabase));
    EXPECT_TRUE(channel.flush(std::chrono::seconds(10)));
    receiver.reset();
    std::lock_guard lk(m);
    EXPECT_EQ(lost, 1);
}

TEST(DBusMainQueueTest, HandlerRunsOnTheMainQueueInOrder) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus";
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    std::vector<Command> got;
    bool offMain = false;
    auto receiver = plat::CommandReceiver::start([&](const Command& c) {
        if (!isMine(c)) return;
        offMain = offMain || !plat::MainQueue::shared().isMainThread();
        got.push_back(c);
    });
    ASSERT_NE(receiver, nullptr);
    plat::DBusCommandChannel channel;
    std::vector<Command> sent = {tagged(withInfo(cmd::kOkToUse, cmd::kOkToUseKey, false)),
                                 tagged(Command::plain(cmd::kCloseDatabase)),
                                 tagged(Command::plain(cmd::kNeedsReloadDBLink)),
                                 tagged(withInfo(cmd::kOkToUse, cmd::kOkToUseKey, true))};
    for (const auto& c : sent) channel.post(c);
    driver.runUntil([&] { return got.size() >= sent.size(); }, std::chrono::seconds(20));
    EXPECT_EQ(got, sent);
    EXPECT_FALSE(offMain);
}

} // namespace
