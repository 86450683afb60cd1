// The preferences application's commands as they arrive: D-Bus signals on a bus of
// the test's own, through the real receiver, into the application delegate and the
// command targets of the running input method.
#include "PrivateBus.h"

#include "InputMethod/Controller/RealEngineFixture.h"

#include "InputMethod/App/AppDelegate.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TypingSession.h"
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
#include "SharedLib/sqlkit/SQLKitLog.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "support/FileState.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
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

// The input method's start-up listening on a private session bus, its command
// targets given by the fixture; the test's main loop serves its main queue.
class BusFixture : public ::testing::Test {
protected:
    void startApp(ConfigManager& config, CommandTargets& targets) {
        AppEnvironment env;
        env.queue = &queue_;
        env.config = &config;
        env.windows = &windows_;
        env.commandTargets = &targets;
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

    // Starts the channel's sender program, another process, with these arguments.
    static pid_t startSender(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TAVIRO_BIN_DIR "/taviro-e2e-send");
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // `count` times the command from each of `senders` other processes, four at once
    // as the preferences application's threads would; then everything is handled.
    void flood(const char* command, int count, std::size_t senders = 4) {
        std::vector<pid_t> pids;
        for (std::size_t i = 0; i < senders; ++i) {
            pids.push_back(startSender(std::vector<std::string>(static_cast<std::size_t>(count), command)));
            ASSERT_GT(pids.back(), 0);
        }
        std::size_t ended = 0;
        driver_.runUntil(
            [&] {
                for (pid_t& sender : pids) {
                    int status = -1;
                    if (sender > 0 && ::waitpid(sender, &status, WNOHANG) == sender) {
                        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                        sender = -1;
                        ++ended;
                    }
                }
                return ended == pids.size();
            },
            120s);
        ASSERT_EQ(ended, pids.size());
        sendAndSettle({});
    }

    PrivateBus bus_;
    fs::path dir_ = freshDir("bus-commands");
    plat::MainQueue queue_;
    plat::RunLoopDriver driver_{queue_};
    CandidateWindowHolder windows_{[](bool vertical) { return std::make_unique<PagedCandidateWindow>(vertical); }};
    std::unique_ptr<AppDelegate> app_;
};

// The real command targets, counting the file work they are given and where it runs.
class CountingTargets : public DefaultCommandTargets {
public:
    using DefaultCommandTargets::DefaultCommandTargets;
    std::atomic<int> fileWork{0}, onMainThread{0};

    bool removeFile(const FileBeneath& file) override {
        counted();
        return DefaultCommandTargets::removeFile(file);
    }
    bool copyBundledCustomDatabase() override {
        counted();
        return DefaultCommandTargets::copyBundledCustomDatabase();
    }
    void saveConfig() override {
        counted();
        DefaultCommandTargets::saveConfig();
    }

private:
    void counted() {
        ++fileWork;
        if (std::this_thread::get_id() == main_) ++onMainThread;
    }
    std::thread::id main_ = std::this_thread::get_id();
};

// The input method with its real store and command targets, over an engine that
// offers nothing.
class CommandsOverTheBus : public BusFixture {
protected:
    void SetUp() override {
        if (!bus_.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
        fs::create_directories(perUser_);
        store_ = Database::create({perUser_, TAVIRO_RESOURCE_DIR, dir_ / "Library"});
        Database::Hooks hooks;
        hooks.settings = [this] { return config_.settings(); };
        store_->setHooks(hooks);
        store_->reloadDBLink().wait();
        targets_ = std::make_unique<CountingTargets>(*store_, config_, engine_, windows_);
        startApp(config_, *targets_);
    }
    void TearDown() override {
        app_.reset();
        targets_.reset();
        if (store_) store_->closeAll();
    }

    fs::path perUser_ = dir_ / "TaviroMac";
    ConfigManager config_{perUser_};
    NoEngine engine_;
    std::shared_ptr<Database> store_;
    std::unique_ptr<CountingTargets> targets_;
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
    flood(cmd::kNeedsReloadDBLink, 10000);
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

// A flood of each reset from other processes does its file work once for each burst
// that reaches the input method, never once a command, and never on the main thread,
// where keys are handled; the store ends open, with no I/O error on the way.
TEST_F(CommandsOverTheBus, AFloodOfResetsDoesItsFileWorkOnceABurstOffTheMainThread) {
    struct Case {
        const char* command;
        int fileWorkEach;  // files removed, copied or saved by one reset
    };
    const Case cases[] = {{cmd::kResetCustom, 2}, {cmd::kResetUserDict, 4}, {cmd::kResetBootButtons, 2}};
    constexpr int kEach = 3000, kSenders = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        // The store's database layer logs on its own.
        std::atomic<int> ioErrors{0};
        struct Sink {
            sqlkit::SQLLogSink previous;
            ~Sink() { sqlkit::setLogSink(std::move(previous)); }
        } sink{sqlkit::setLogSink([&ioErrors](std::string_view line) {
            if (line.find("disk I/O error") != std::string_view::npos) ++ioErrors;
            std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        })};
        targets_->fileWork = 0;
        flood(c.command, kEach, kSenders);
        const int resets = targets_->fileWork / c.fileWorkEach;
        EXPECT_GE(resets, 1);
        EXPECT_LE(resets, kEach * kSenders / 20) << "file work of " << resets << " resets for "
                                                 << kEach * kSenders << " commands";
        EXPECT_EQ(targets_->onMainThread.load(), 0);
        ASSERT_TRUE(driver_.runUntil([&] { return store_->isOpen(); }, 30s));
        EXPECT_TRUE(TaviroIMEngine::isReady());
        EXPECT_EQ(ioErrors.load(), 0);
    }
    EXPECT_EQ(config_.settings()->bootButtonName, "BootButtons.plist");
}

// The controller of a scripted client over the process's real engine and store, with
// the input method's command targets listening on the private bus.
class TypingOverTheBus : public BusFixture {
protected:
    static void SetUpTestSuite() { startRealEngine(); }
    void SetUp() override {
        if (!bus_.ok()) GTEST_SKIP() << "dbus-daemon cannot be started";
        resetRealEngine();
        targets_ = std::make_unique<DefaultCommandTargets>(Database::shared(), ConfigManager::shared(), adapter_, windows_);
        startApp(ConfigManager::shared(), *targets_);
        ControllerEnvironment env;
        env.engine = &adapter_;
        env.windows = &windows_;
        session_ = std::make_unique<TypingSession>(env);
    }
    void TearDown() override {
        session_.reset();
        app_.reset();
        targets_.reset();
        TaviroIMEngine::setReady(true);
    }

    std::string committed() { return session_->client().committedText(); }
    static plat::Command okToUse(bool ok) {
        plat::Command c = plat::Command::plain(cmd::kOkToUse);
        c.userInfo[cmd::kOkToUseKey] = ok;
        return c;
    }

    TaviroEngineAdapter adapter_{TaviroIMEngine::shared()};
    std::unique_ptr<DefaultCommandTargets> targets_;
    std::unique_ptr<TypingSession> session_;
};

// A sender holds the flag down while more keys come than a composition holds. Once the
// flag is up again, raised by the sender or by its leaving the bus, the full
// composition commits at the next space, and words typed after it commit as usual.
TEST_F(TypingOverTheBus, KeysPastAFullCompositionWhileASenderHoldsTheFlagCommitOnceItIsRaised) {
    struct Case {
        const char* what;
        bool senderLeaves;
        int keys;
    };
    // The sender that raises the flag stays to the end: its leaving would reopen the store.
    const Case cases[] = {{"the sender leaves", true, 700}, {"the sender raises it", false, 900}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session_->client().setText("");
        session_->typeScript("ni");
        const pid_t holder = startSender({"--stay", "okToUse=false"});
        ASSERT_GT(holder, 0);
        ASSERT_TRUE(driver_.runUntil([] { return !TaviroIMEngine::isReady(); }, 30s));
        std::string keys;
        for (int i = 0; static_cast<int>(keys.size()) < c.keys; ++i) keys += i % 2 ? "shijie " : "women ";
        keys.resize(static_cast<std::size_t>(c.keys));
        session_->typeScript(keys, 10ms);
        EXPECT_EQ(committed(), "");

        if (c.senderLeaves) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
            ASSERT_TRUE(driver_.runUntil([] { return TaviroIMEngine::isReady() && Database::shared().isOpen(); }, 30s));
        } else {
            sendAndSettle({okToUse(true)});
            ASSERT_TRUE(TaviroIMEngine::isReady());
        }
        session_->typeScript(" ");
        EXPECT_EQ(TaviroIMEngine::shared().inputBuffer(), "");
        EXPECT_NE(committed(), "");
        EXPECT_EQ(committed().find(TaviroIMEngine::kWaitingText), std::string::npos);
        session_->client().setText("");
        session_->typeScript("nihao shijie ");
        EXPECT_EQ(committed(), "你好世界");
        if (!c.senderLeaves) {
            ::kill(holder, SIGKILL);
            ::waitpid(holder, nullptr, 0);
        }
    }
}

// A panel switch sent in the middle of a word keeps the word and shows it in the
// new window; the space then commits the word, not the letters typed.
TEST_F(TypingOverTheBus, APanelSwitchKeepsTheWordBeingTyped) {
    auto panel = [](const char* name) {
        plat::Command c = plat::Command::plain(cmd::kSwitchCandidatesPanel);
        c.userInfo[cmd::kNameKey] = std::string(name);
        return c;
    };
    struct Case {
        const char* what;
        std::vector<plat::Command> switches;
        bool vertical;
    };
    const Case cases[] = {
        {"to vertical", {panel(cmd::kVerticalPanel)}, true},
        {"to horizontal", {panel(cmd::kHorizontalPanel)}, false},
        {"there and back", {panel(cmd::kVerticalPanel), panel(cmd::kHorizontalPanel)}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session_->client().setText("");
        session_->typeScript("nihao");
        ASSERT_TRUE(windows_.window().isVisible());
        sendAndSettle(c.switches);
        CandidateWindow& window = windows_.window();
        EXPECT_EQ(window.isVertical(), c.vertical);
        ASSERT_TRUE(window.isVisible());
        ASSERT_FALSE(window.visibleCandidates().empty());
        EXPECT_EQ(window.visibleCandidates().front(), "你好");
        EXPECT_EQ(session_->client().markedText(), "nihao");
        session_->typeScript(" ");
        EXPECT_EQ(committed(), "你好");
    }
}

} // namespace
} // namespace taviro::test
