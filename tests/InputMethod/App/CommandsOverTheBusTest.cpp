// The preferences application's commands as they arrive: D-Bus signals on a bus of
// the test's own, through the real receiver, into the application delegate and the
// command targets of the running input method.
#include "PrivateBus.h"

#include "InputMethod/App/AppDelegate.h"
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/CompositionEngine.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/PagedCandidateWindow.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "Platform/Notifications/DBusCommandChannel.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "support/FileState.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <fstream>
#include <thread>
#include <malloc.h>

namespace taviro::test {
namespace {

namespace fs = std::filesystem;
namespace cmd = plat::command;
using namespace std::chrono_literals;

class NoEngine : public CompositionEngine {
public:
    std::string getCandidates(const std::string& text) override { return text; }
    std::vector<std::string> candidateStrings() const override { return {}; }
    std::string commitSelection(const std::string&) override { return {}; }
    void forgetWord(std::int64_t) override {}
    void clean() override {}
    void reloadInputDelegate() override {}
    std::string inputBuffer() const override { return {}; }
    std::size_t candidateCount() const override { return 0; }
    std::string firstCandidateCode() const override { return {}; }
    bool hasLongerCode(const std::string&) override { return false; }
    std::string pinyinDisplay(const std::string& keys) override { return keys; }
};

std::size_t threadsNow() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// A sanitizer's allocator keeps freed memory in quarantine: resident memory tells
// nothing about the program's own there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsOurs = false;
#else
constexpr bool kMemoryIsOurs = true;
#endif

// Gives freed memory back to the system, where the allocator is glibc's.
void trim() {
    if (kMemoryIsOurs) ::malloc_trim(0);
}

// Resident memory in KiB.
long rssNow() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// The input method's start-up with its real store and command targets, listening on
// a private session bus; the test's main loop serves its main queue.
class CommandsOverTheBus : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus_.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
        fs::create_directories(perUser_);
        store_ = Database::create({perUser_, TAVIRO_RESOURCE_DIR, dir_ / "Library"});
        Database::Hooks hooks;
        hooks.settings = [this] { return config_.settings(); };
        store_->setHooks(hooks);
        store_->reloadDBLink().wait();
        targets_ = std::make_unique<DefaultCommandTargets>(*store_, config_, engine_, windows_);
        AppEnvironment env;
        env.queue = &queue_;
        env.config = &config_;
        env.windows = &windows_;
        env.commandTargets = targets_.get();
        env.userFolder = plat::Paths::userFolder();
        env.startServer = [](const std::string&, const std::optional<std::string>&) { return true; };
        env.subscribe = [this](plat::CommandReceiver::SenderHandler handler, plat::CommandReceiver::GoneHandler gone) {
            return plat::CommandReceiver::start(std::move(handler), std::move(gone),
                                                [this](std::function<void()> fn) { queue_.async(std::move(fn)); });
        };
        app_ = std::make_unique<AppDelegate>(env);
        ASSERT_TRUE(app_->applicationDidFinishLaunching());
        ASSERT_TRUE(app_->subscribed());
    }
    void TearDown() override {
        app_.reset();
        targets_.reset();
        if (store_) store_->closeAll();
    }

    // Sends, then serves the main queue until a "setFontSize" sent after them has
    // been handled: everything sent before it has been too.
    void sendAndSettle(const std::vector<plat::Command>& commands, const std::function<void()>& whileWaiting = {}) {
        static std::int64_t marker = 14;
        marker = marker == 14 ? 24 : 14;
        plat::Command last = plat::Command::plain(cmd::kSetFontSize);
        last.userInfo[cmd::kSizeKey] = marker;
        {
            plat::DBusCommandChannel channel;
            for (const auto& c : commands) channel.post(c);
            // The marker waits for room: it must not be dropped from a full queue.
            ASSERT_TRUE(channel.flush(120s));
            channel.post(last);
            ASSERT_TRUE(channel.flush(120s));
        }
        const FontSize want = marker == 24 ? FontSize::s24 : FontSize::s14;
        ASSERT_TRUE(driver_.runUntil(
            [&] {
                if (whileWaiting) whileWaiting();
                return windows_.window().fontSize() == want;
            },
            120s));
    }

    PrivateBus bus_;
    fs::path dir_ = freshDir("bus-commands");
    fs::path perUser_ = dir_ / "TaviroMac";
    plat::MainQueue queue_;
    plat::RunLoopDriver driver_{queue_};
    ConfigManager config_{perUser_};
    CandidateWindowHolder windows_{[](bool vertical) { return std::make_unique<PagedCandidateWindow>(vertical); }};
    NoEngine engine_;
    std::shared_ptr<Database> store_;
    std::unique_ptr<DefaultCommandTargets> targets_;
    std::unique_ptr<AppDelegate> app_;
};

// "resetBootButtons" removes the default guide-button file in the user folder's
// "BootButtons", never a file that a link there leads to.
TEST_F(CommandsOverTheBus, ResetBootButtonsRemovesNothingALinkLeadsTo) {
    const fs::path folder = plat::Paths::userFolder() / "BootButtons";
    const fs::path outside = freshDir("outside");
    struct Case {
        const char* name;
        std::function<void()> plant;
        bool removed;  // BootButtons/BootButtons.plist is gone afterwards
    };
    const Case cases[] = {
        {"the folder is a link",
         [&] {
             fs::remove_all(folder);
             fs::create_directory_symlink(outside, folder);
         },
         false},
        {"the file is a link",
         [&] {
             fs::remove_all(folder);
             fs::create_directories(folder);
             fs::create_symlink(outside / "BootButtons.plist", folder / "BootButtons.plist");
         },
         true},
        {"the file itself",
         [&] {
             fs::remove_all(folder);
             fs::create_directories(folder);
             ASSERT_TRUE(plat::writeFileAtomically(folder / "BootButtons.plist", "old table"));
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(plat::writeFileAtomically(outside / "BootButtons.plist", "the user's own table"));
        c.plant();
        config_.update([](Settings& s) { s.bootButtonName = "mine.plist"; });
        sendAndSettle({plat::Command::plain(cmd::kResetBootButtons)});
        EXPECT_EQ(config_.settings()->bootButtonName, "BootButtons.plist");
        EXPECT_EQ(plat::readWholeFile(outside / "BootButtons.plist").value_or("<gone>"), "the user's own table");
        EXPECT_EQ(!fs::exists(fs::symlink_status(folder / "BootButtons.plist")), c.removed);
    }
    fs::remove_all(folder);
}

// A link or a hard link planted in a database's place while the input method runs:
// the reload the preferences application asks for over the bus sets it aside, and
// neither the reload nor the typing after it writes the file it leads to.
TEST_F(CommandsOverTheBus, AReloadNeverOpensADatabaseThroughALink) {
    struct Case {
        const char* name;
        bool hardLink;
    };
    const Case cases[] = {{"user.db", false}, {"user.db", true},     {"keys.db", false},
                          {"keys.db", true},  {"custom.db", false},  {"extended.db", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.hardLink ? " as a hard link" : " as a link"));
        const fs::path outside = freshDir("outside") / "other.db";
        {
            sqlkit::SQLDatabase db(outside.string());
            ASSERT_TRUE(db.open());
            ASSERT_TRUE(db.executeStatements("CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);"));
            db.close();
        }
        fs::permissions(outside, fs::perms(0644));
        const FileState before = stateOf(outside);
        const std::size_t asideBefore = setAsideIn(perUser_, c.name).size();
        fs::remove(perUser_ / c.name);
        if (c.hardLink)
            fs::create_hard_link(outside, perUser_ / c.name);
        else
            fs::create_symlink(outside, perUser_ / c.name);
        sendAndSettle({plat::Command::plain(cmd::kNeedsReloadDBLink)});
        ASSERT_TRUE(driver_.runUntil([&] { return setAsideIn(perUser_, c.name).size() == asideBefore + 1; }, 30s));
        store_->reloadDBLink().wait();
        CodeTable learnt("nihao", "你好", 1.0);
        store_->insertUserWord(learnt, true);
        store_->keyLog(std::chrono::system_clock::now(), 3, true);
        store_->customPhrases("dz");
        EXPECT_EQ(stateOf(outside), before) << "the outside file or its folder changed";
        EXPECT_EQ(setAsideIn(perUser_, c.name).size(), asideBefore + 1);
    }
}

// A flood of "needsReloadDBLink" reopens the store without growing the worker pool
// past its width, and once it is over the pool's threads and the memory they used go
// back: the thread count to where it was, the resident memory near it.
TEST_F(CommandsOverTheBus, AFloodOfReloadsLeavesThreadsAndMemoryAsTheyWere) {
    // Each reopening takes as long as a user's grown store does.
    Database::Hooks hooks;
    hooks.settings = [this] { return config_.settings(); };
    hooks.userDatabaseOpened = [](sqlkit::SQLDatabase*) { std::this_thread::sleep_for(80ms); };
    store_->setHooks(hooks);
    // Settled first: the start-up's workers retired and their memory given back.
    driver_.runUntil([] { return plat::WorkerPool::shared().threadCount() == 0; }, 60s);
    trim();
    // The thread count, sampled all along by a thread of its own.
    std::atomic<std::size_t> threadsPeak{0};
    std::jthread sampler([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            threadsPeak = std::max(threadsPeak.load(), threadsNow());
            std::this_thread::sleep_for(1ms);
        }
    });
    const std::size_t threadsBefore = threadsNow();
    const long rssBefore = rssNow();
    // Sent by other processes, as the preferences application would, four at once.
    std::vector<std::string> args{TAVIRO_BIN_DIR "/taviro-e2e-send"};
    args.insert(args.end(), 10000, cmd::kNeedsReloadDBLink);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<pid_t> senders(4, -1);
    for (pid_t& sender : senders)
        ASSERT_EQ(posix_spawn(&sender, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::size_t ended = 0;
    driver_.runUntil(
        [&] {
            for (pid_t& sender : senders) {
                int status = -1;
                if (sender > 0 && ::waitpid(sender, &status, WNOHANG) == sender) {
                    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                    sender = -1;
                    ++ended;
                }
            }
            return ended == senders.size();
        },
        120s);
    ASSERT_EQ(ended, senders.size());
    sendAndSettle({});
    const std::size_t threadsDuring = threadsPeak;
    sampler.request_stop();
    sampler.join();
    // Idle workers retire after the pool's idle timeout.
    driver_.runUntil([&] { return threadsNow() < threadsBefore; }, 60s);
    const long rssAfter = rssNow();
    // The width, the stall monitor and the bus sender's thread. Under a sanitizer each
    // reopening outlasts the pool's stall delay, which adds a worker per delay.
    if (kMemoryIsOurs) EXPECT_LE(threadsDuring, threadsBefore + plat::WorkerPool::defaultWidth() + 4) << "threads before " << threadsBefore;
    EXPECT_LT(threadsNow(), threadsBefore);
    if (kMemoryIsOurs) EXPECT_LE(rssAfter - rssBefore, 16 * 1024) << "KiB before " << rssBefore << ", after " << rssAfter;
    EXPECT_TRUE(store_->isOpen());
}

// One command whose argument holds 100,000 entries is refused as it is read, with a
// log line; the memory stays where it was and the next command is served.
TEST_F(CommandsOverTheBus, AHugeArgumentIsRefusedAndCostsNoMemory) {
    trim();
    const long rssBefore = rssNow();
    plat::LogCapture logged;
    {
        auto connection = sdbus::createSessionBusConnection();
        auto object = sdbus::createObject(*connection, cmd::kObjectPath);
        auto signal = object->createSignal(cmd::kInterface, cmd::kMember);
        signal << std::string(cmd::kNeedsReloadDBLink);
        signal.openContainer("{sv}");
        for (int i = 0; i < 100000; ++i) {
            signal.openDictEntry("sv");
            signal << ("key" + std::to_string(i)) << sdbus::Variant(std::int64_t{i});
            signal.closeDictEntry();
        }
        signal.closeContainer();
        object->emitSignal(signal);
        while (connection->processPendingRequest()) {
        }
    }
    trim();
    const long rssSent = rssNow();
    // It came on a connection of its own: nothing orders it before the next command.
    driver_.runUntil([&] { return logged.contains("refused a command"); }, 60s);
    sendAndSettle({});
    trim();
    const long rssAfter = rssNow();
    EXPECT_TRUE(logged.contains("refused a command")) << ::testing::PrintToString(logged.lines());
    if (kMemoryIsOurs) EXPECT_LE(rssAfter - std::max(rssBefore, rssSent), 8 * 1024)
        << "KiB before " << rssBefore << ", sent " << rssSent << ", after " << rssAfter;
}

} // namespace
} // namespace taviro::test
