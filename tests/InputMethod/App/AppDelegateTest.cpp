#include "AppFixture.h"

#include "InputMethod/App/AppDelegate.h"
#include "InputMethod/App/CommandBrackets.h"
#include "InputMethod/App/Notices.h"
#include "InputMethod/App/VersionCheck.h"
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/PagedCandidateWindow.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace taviro::test {
namespace {

namespace fs = std::filesystem;
namespace cmd = plat::command;
using namespace std::chrono_literals;

void writeInfo(const fs::path& file, const plat::PlistValue& version) {
    plat::PlistValue info = plat::PlistValue::dictionary();
    info["CFBundleVersion"] = version;
    ASSERT_TRUE(plat::writePlistFile(file, info));
}

// Start-up over fakes on a virtual clock; every hook records its call.
struct AppFixture : ::testing::Test {
    fs::path dir = freshDir("app");
    plat::MainQueue queue;
    plat::ManualDriver driver{queue};
    ConfigManager config{dir / "config"};
    CandidateWindowHolder windows{[](bool vertical) { return std::make_unique<PagedCandidateWindow>(vertical); }};
    RecordingTargets targets;
    RecordingNoticeCenter notices;
    fs::path installedInfo = dir / "installed" / "Info.plist";
    VersionCheck versionCheck{"2.0.0", installedInfo};
    std::vector<std::string> calls;
    bool serverStarts = true;

    AppEnvironment environment() {
        AppEnvironment env;
        env.queue = &queue;
        env.config = &config;
        env.windows = &windows;
        env.commandTargets = &targets;
        env.notices = &notices;
        env.versionCheck = &versionCheck;
        env.userFolder = dir / "Documents" / "塔维输入法";
        env.startServer = [this](const std::string& name, const std::optional<std::string>&) {
            calls.push_back("server:" + name);
            return serverStarts;
        };
        env.subscribe = [this](plat::CommandReceiver::SenderHandler, plat::CommandReceiver::GoneHandler) {
            calls.push_back("subscribe");
            return std::unique_ptr<plat::CommandReceiver>();
        };
        env.cleanEngine = [this] { calls.push_back("engine"); };
        env.controlStrip = [this] { calls.push_back("controlStrip"); };
        env.startCrashReporter = [this] { calls.push_back("crashReporter"); };
        env.openAbout = [this] { calls.push_back("about"); };
        env.terminate = [this] { calls.push_back("terminate"); };
        return env;
    }
};

TEST_F(AppFixture, StartUpRunsItsStepsInOrderAndCreatesTheUserFolders) {
    fs::create_directories(dir / "Documents");
    notices.deliver(AppDelegate::updateNotice());  // left from an earlier run
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    EXPECT_EQ(calls, (std::vector<std::string>{"server:TaviroMac_3_Connection", "subscribe", "engine",
                                               "controlStrip", "crashReporter"}));
    EXPECT_TRUE(app.timerRunning());
    EXPECT_TRUE(notices.delivered().empty());
    for (const char* sub : {"KeyMaps", "AssistCodes", "BootButtons", "data", "Extended"})
        EXPECT_TRUE(fs::is_directory(dir / "Documents" / "塔维输入法" / sub)) << sub;
}

TEST_F(AppFixture, CrashReporterOnlyWhenUploadCrashLogIsOn) {
    config.update([](Settings& s) { s.uploadCrashLog = false; });
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "crashReporter"), 0);
}

TEST_F(AppFixture, ExistingFoldersAreLeftAloneAndAMissingParentIsNoFailure) {
    const fs::path keep = dir / "Documents" / "塔维输入法" / "BootButtons" / "BootButtons.plist";
    fs::create_directories(keep.parent_path());
    std::ofstream(keep) << "mine";
    {
        AppDelegate app(environment());
        ASSERT_TRUE(app.applicationDidFinishLaunching());
    }
    std::ifstream in(keep);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "mine");

    // A user folder that cannot be made (its parent is a file) is no failure.
    std::ofstream(dir / "blocked") << "a file";
    auto env = environment();
    env.userFolder = dir / "blocked" / "塔维输入法";
    AppDelegate app(env);
    EXPECT_TRUE(app.applicationDidFinishLaunching());
    EXPECT_TRUE(fs::is_regular_file(dir / "blocked"));
}

// Sets HOME and XDG_CONFIG_HOME for one test, as a fresh account has them.
struct FreshAccount {
    fs::path home = freshDir("account");
    std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    std::string oldConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    FreshAccount() {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    }
    ~FreshAccount() {
        ::setenv("HOME", oldHome.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
    }
};

// Start-up makes the user folder in the account's documents folder, creating
// the documents folder itself when the account has none yet.
TEST_F(AppFixture, TheUserFolderIsMadeInTheDocumentsFolderWithItsParents) {
    struct Case {
        const char* name;
        std::string userDirs;  // ~/.config/user-dirs.dirs, none when empty
        fs::path documents;    // relative to the home
    } cases[] = {
        {"no_documents_folder", "", "Documents"},
        {"named_by_user_dirs", "XDG_DOCUMENTS_DIR=\"$HOME/文档/work\"\n", fs::path("文档") / "work"},
    };
    for (const auto& c : cases) {
        FreshAccount account;
        if (!c.userDirs.empty()) {
            fs::create_directories(account.home / ".config");
            std::ofstream(account.home / ".config" / "user-dirs.dirs") << c.userDirs;
        }
        ASSERT_FALSE(fs::exists(account.home / c.documents)) << c.name;
        auto env = environment();
        env.userFolder = plat::Paths::userFolder();
        AppDelegate app(env);
        ASSERT_TRUE(app.applicationDidFinishLaunching()) << c.name;
        for (const char* sub : {"KeyMaps", "AssistCodes", "BootButtons", "data", "Extended"})
            EXPECT_TRUE(fs::is_directory(account.home / c.documents / "塔维输入法" / sub)) << c.name << " " << sub;
    }
}

TEST_F(AppFixture, NoServerEndsStartUp) {
    serverStarts = false;
    AppDelegate app(environment());
    EXPECT_FALSE(app.applicationDidFinishLaunching());
    EXPECT_EQ(calls, (std::vector<std::string>{"server:TaviroMac_3_Connection"}));
}

TEST_F(AppFixture, FirstWindowFollowsTheLayoutAndFontSizeSettings) {
    for (bool vertical : {true, false}) {
        config.update([&](Settings& s) {
            s.verticalCandidates = vertical;
            s.fontSize = 24;
        });
        CandidateWindowHolder holder{[](bool v) { return std::make_unique<PagedCandidateWindow>(v); }};
        auto env = environment();
        env.windows = &holder;
        AppDelegate app(env);
        ASSERT_TRUE(app.applicationDidFinishLaunching());
        EXPECT_EQ(holder.window().isVertical(), vertical);
        EXPECT_EQ(holder.window().fontSize(), FontSize::s24);
    }
}

// A size an earlier version saved starts the window at the nearest offered
// size; the file keeps what the user saved.
TEST_F(AppFixture, FirstWindowTakesTheNearestOfferedFontSize) {
    const struct {
        std::int64_t stored;
        FontSize shown;
    } cases[] = {{24, FontSize::s24}, {20, FontSize::s18}, {15, FontSize::s16}, {28, FontSize::s32},
                 {12, FontSize::s14}, {40, FontSize::s32}};
    for (const auto& c : cases) {
        plat::PlistValue file = plat::PlistValue::dictionary();
        file["FontSize"] = c.stored;
        fs::create_directories(config.configPath().parent_path());
        ASSERT_TRUE(plat::writePlistFile(config.configPath(), file));
        config.loadConfig();
        const std::string before = [&] {
            std::ifstream in(config.configPath(), std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }();
        CandidateWindowHolder holder{[](bool v) { return std::make_unique<PagedCandidateWindow>(v); }};
        auto env = environment();
        env.windows = &holder;
        AppDelegate app(env);
        ASSERT_TRUE(app.applicationDidFinishLaunching());
        EXPECT_EQ(holder.window().fontSize(), c.shown) << c.stored;
        std::ifstream in(config.configPath(), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before) << c.stored;
    }
}

// The installed-version check on the virtual clock.
TEST_F(AppFixture, InstalledVersionCheck) {
    struct Case {
        const char* what;
        std::optional<plat::PlistValue> installed;  // none: no Info.plist
        bool endsProcess;
    };
    const Case cases[] = {
        {"same version", plat::PlistValue("2.0.0"), false},
        {"newer", plat::PlistValue("2.0.1"), true},
        {"older", plat::PlistValue("1.9.0"), true},
        {"differs in case", plat::PlistValue("2.0.0A"), true},
        {"trailing space", plat::PlistValue("2.0.0 "), true},
        {"no Info.plist", std::nullopt, false},
        {"version not a string", plat::PlistValue(200), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        notices.removeAllDelivered();
        fs::remove_all(installedInfo.parent_path());
        if (c.installed) {
            fs::create_directories(installedInfo.parent_path());
            writeInfo(installedInfo, *c.installed);
        }
        AppDelegate app(environment());
        ASSERT_TRUE(app.applicationDidFinishLaunching());
        calls.clear();
        // The first tick comes at 2.0 s; the end follows 0.5 s after it.
        driver.advance(2000ms);
        EXPECT_TRUE(notices.delivered().empty());
        driver.advance(499ms);
        EXPECT_TRUE(calls.empty());
        driver.advance(1ms);
        if (c.endsProcess) {
            EXPECT_EQ(calls, (std::vector<std::string>{"terminate"}));
            ASSERT_EQ(notices.delivered().size(), 1u);
            EXPECT_EQ(notices.delivered()[0], AppDelegate::changedBundleNotice());
        } else {
            EXPECT_TRUE(calls.empty());
            EXPECT_TRUE(notices.delivered().empty());
        }
        // Later ticks never schedule a second end.
        driver.advance(10s);
        EXPECT_LE(std::count(calls.begin(), calls.end(), "terminate"), 1);
    }
}

// Idle ticks read the installed Info.plist once; a replaced one is read at the next tick.
TEST_F(AppFixture, IdleTicksReadTheInstalledVersionOnlyWhenItsFileChanged) {
    fs::create_directories(installedInfo.parent_path());
    writeInfo(installedInfo, plat::PlistValue("2.0.0"));
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    calls.clear();
    driver.advance(60s);
    EXPECT_EQ(versionCheck.reads(), 1);
    EXPECT_TRUE(calls.empty());
    // An upgrade puts a new file in place (written beside it and renamed).
    writeInfo(installedInfo, plat::PlistValue("2.0.1"));
    driver.advance(2000ms + 500ms);
    EXPECT_EQ(versionCheck.reads(), 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"terminate"}));
}

TEST_F(AppFixture, NoticesAndTheirClicks) {
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    calls.clear();
    app.updaterDidFindValidUpdate();
    notices.deliver(AppDelegate::changedBundleNotice());
    ASSERT_EQ(notices.delivered().size(), 2u);
    const Notice update = notices.delivered()[0];
    EXPECT_EQ(update.identifier, std::string("update_alert"));
    EXPECT_EQ(update.title, "塔维输入法有更新了！");
    EXPECT_EQ(update.subtitle, std::string("点我直达关于页面"));
    EXPECT_EQ(update.informativeText, "在塔维输入法的菜单中打开“关于”面板，点击检查更新以获取更新。");

    // The changed-bundle notice is only removed.
    notices.click(1);
    EXPECT_TRUE(calls.empty());
    ASSERT_EQ(notices.delivered().size(), 1u);
    // The update notice is removed and opens the About window.
    notices.click(0);
    EXPECT_EQ(calls, (std::vector<std::string>{"about"}));
    EXPECT_TRUE(notices.delivered().empty());
}

plat::Command okToUse(bool ok) {
    plat::Command c = plat::Command::plain(cmd::kOkToUse);
    c.userInfo[cmd::kOkToUseKey] = ok;
    return c;
}

// A sender that leaves the bus in the middle of a database change releases
// the input method; a finished change, or another connection leaving, does not.
TEST(CommandBrackets, SenderGoneWithABracketOpenReopensAndRaisesTheFlag) {
    const plat::Command close = plat::Command::plain(cmd::kCloseDatabase);
    const plat::Command reload = plat::Command::plain(cmd::kNeedsReloadDBLink);
    struct Step {
        plat::Command command;
        std::string sender;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::string gone;
        std::vector<std::string> after;  // what the departure does
    };
    const Case cases[] = {
        {"killed after okToUse false", {{okToUse(false), ":1.5"}}, ":1.5", {"reload", "ready"}},
        {"killed after closeDatabase", {{okToUse(false), ":1.5"}, {close, ":1.5"}}, ":1.5", {"reload", "ready"}},
        {"closeDatabase alone", {{close, ":1.5"}}, ":1.5", {"reload", "ready"}},
        {"finished change", {{okToUse(false), ":1.5"}, {close, ":1.5"}, {reload, ":1.5"}, {okToUse(true), ":1.5"}},
         ":1.5", {}},
        {"reopened but flag still down", {{okToUse(false), ":1.5"}, {close, ":1.5"}, {reload, ":1.5"}}, ":1.5",
         {"reload", "ready"}},
        {"another connection leaves", {{okToUse(false), ":1.5"}}, ":1.9", {}},
        {"no bracket", {{reload, ":1.5"}}, ":1.5", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingTargets targets;
        CommandBrackets brackets(targets);
        for (const auto& s : c.steps) brackets.commandReceived(s.command, s.sender);
        brackets.senderGone(c.gone);
        EXPECT_EQ(targets.log, c.after);
        // A second departure of the same name does nothing more.
        targets.log.clear();
        brackets.senderGone(c.gone);
        EXPECT_TRUE(targets.log.empty());
    }
}

TEST_F(AppFixture, CommandsReachTheHandlerAndTheBracketWatch) {
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    app.dealWithNotifications(okToUse(false), ":1.7");
    app.dealWithNotifications(plat::Command::plain(cmd::kCloseDatabase), ":1.7");
    EXPECT_EQ(targets.log, (std::vector<std::string>{"notReady", "closeAll"}));
    app.senderGone(":1.7");
    EXPECT_EQ(targets.log, (std::vector<std::string>{"notReady", "closeAll", "reload", "ready"}));
}

// A flood of "configNeedsReload" on the main queue costs one reload, behind the
// flood: a key posted in its middle waits for none, and another command still
// comes after the reload asked for before it.
TEST_F(AppFixture, AFloodOfReloadCommandsRunsOneReload) {
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    driver.pump();
    targets.log.clear();
    auto reloads = [&] { return std::count(targets.log.begin(), targets.log.end(), "cleanCache"); };
    auto flood = [&](int n) {
        for (int i = 0; i < n; ++i)
            queue.async([&] { app.dealWithNotifications(plat::Command::plain(cmd::kConfigNeedsReload), ":1.7"); });
    };
    long reloadsBeforeKey = -1;
    flood(5000);
    queue.async([&] { reloadsBeforeKey = reloads(); });
    flood(5000);
    for (int i = 0; i < 5 && queue.hasPendingBlocks(); ++i) driver.pump();
    EXPECT_LE(reloadsBeforeKey, 1);
    EXPECT_EQ(reloads(), 1);

    // Order: the reload asked for first runs before the command after it.
    targets.log.clear();
    app.dealWithNotifications(plat::Command::plain(cmd::kConfigNeedsReload), ":1.7");
    app.dealWithNotifications(plat::Command::plain(cmd::kCloseDatabase), ":1.7");
    EXPECT_EQ(targets.log, (std::vector<std::string>{"cleanCache", "closeAll"}));
    for (int i = 0; i < 5 && queue.hasPendingBlocks(); ++i) driver.pump();
    EXPECT_EQ(targets.log, (std::vector<std::string>{"cleanCache", "closeAll"}));  // nothing left over
}

// The same for "needsReloadDBLink", alone and inside the brackets of the
// preferences application: a burst costs one reopen, behind it.
TEST_F(AppFixture, AFloodOfReopenCommandsRunsOneReopen) {
    AppDelegate app(environment());
    ASSERT_TRUE(app.applicationDidFinishLaunching());
    driver.pump();
    targets.log.clear();
    auto reopens = [&] { return std::count(targets.log.begin(), targets.log.end(), "reload"); };
    auto post = [&](const plat::Command& c) { queue.async([&app, c] { app.dealWithNotifications(c, ":1.7"); }); };
    const plat::Command reopen = plat::Command::plain(cmd::kNeedsReloadDBLink);
    const plat::Command close = plat::Command::plain(cmd::kCloseDatabase);

    long reopensBeforeKey = -1;
    for (int i = 0; i < 5000; ++i) post(reopen);
    queue.async([&] { reopensBeforeKey = reopens(); });
    for (int i = 0; i < 5000; ++i) post(reopen);
    for (int i = 0; i < 5 && queue.hasPendingBlocks(); ++i) driver.pump();
    EXPECT_EQ(reopensBeforeKey, 0);
    EXPECT_EQ(targets.log, (std::vector<std::string>{"reload"}));

    // Brackets one after another: each close finds the store closed, one reopen behind them all.
    targets.log.clear();
    for (int i = 0; i < 3000; ++i) {
        post(okToUse(false));
        post(close);
        post(reopen);
        post(okToUse(true));
    }
    for (int i = 0; i < 5 && queue.hasPendingBlocks(); ++i) driver.pump();
    EXPECT_EQ(reopens(), 1);
    ASSERT_FALSE(targets.log.empty());
    EXPECT_EQ(targets.log.back(), "reload");
    EXPECT_EQ(std::count(targets.log.begin(), targets.log.end(), "ready"), 3000);
}

// A waiting reopen keeps its place among the other commands: it runs before
// the next command that is no reload, after the configuration reloads asked
// for before its latest request, and a close drops it.
TEST(CommandHandler, WaitingReloadsKeepTheOrderOfTheCommands) {
    const plat::Command reopen = plat::Command::plain(cmd::kNeedsReloadDBLink);
    const plat::Command config = plat::Command::plain(cmd::kConfigNeedsReload);
    const plat::Command close = plat::Command::plain(cmd::kCloseDatabase);
    plat::Command vertical = plat::Command::plain(cmd::kSwitchCandidatesPanel);
    vertical.userInfo[cmd::kNameKey] = std::string(cmd::kVerticalPanel);
    struct Case {
        const char* what;
        std::vector<plat::Command> commands;
        std::vector<std::string> before;  // done before the deferred block runs
        std::vector<std::string> after;   // everything, once it has run
    };
    const std::vector<std::string> configSteps{"cleanCache"};  // loading and the strategy log nothing here
    const Case cases[] = {
        {"burst", {reopen, reopen, reopen}, {}, {"reload"}},
        {"another command runs after it", {reopen, reopen, vertical, reopen}, {"reload", "vertical"},
         {"reload", "vertical", "reload"}},
        {"the flag does not wait for it", {reopen, okToUse(true)}, {"ready"}, {"ready", "reload"}},
        {"a close drops it", {reopen, close}, {"closeAll", "cleanCache"}, {"closeAll", "cleanCache"}},
        {"a close after the reopen asked again", {close, reopen}, {"closeAll"}, {"closeAll", "reload"}},
        {"after the configuration", {config, reopen}, {}, {"cleanCache", "reload"}},
        {"moved behind a later configuration", {reopen, config, reopen}, {}, {"cleanCache", "reload"}},
        {"the configuration moved behind it", {config, reopen, config}, {}, {"reload", "cleanCache"}},
        {"a close keeps the configuration reload", {reopen, config, close},
         {"cleanCache", "closeAll", "cleanCache"}, {"cleanCache", "closeAll", "cleanCache"}},
        {"both before another command", {config, reopen, vertical}, {"cleanCache", "reload", "vertical"},
         {"cleanCache", "reload", "vertical"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingTargets targets;
        std::vector<std::function<void()>> deferred;
        CommandHandler handler(targets, [&](std::function<void()> fn) { deferred.push_back(std::move(fn)); });
        for (const auto& command : c.commands) handler.dealWithNotifications(command);
        EXPECT_EQ(targets.log, c.before);
        // One deferred block at a time, however many requests.
        EXPECT_LE(deferred.size(), 1u);
        for (std::size_t i = 0; i < deferred.size(); ++i) deferred[i]();
        EXPECT_EQ(targets.log, c.after);
        EXPECT_FALSE(handler.reloadPending());
    }
}

// However long a flood, the handler keeps at most one deferred block and one
// waiting request of each kind.
TEST(CommandHandler, AFloodKeepsOneDeferredBlock) {
    RecordingTargets targets;
    int deferredBlocks = 0;
    std::vector<std::function<void()>> deferred;
    CommandHandler handler(targets, [&](std::function<void()> fn) {
        ++deferredBlocks;
        deferred.push_back(std::move(fn));
    });
    for (int i = 0; i < 10000; ++i) {
        handler.dealWithNotifications(plat::Command::plain(i % 2 ? cmd::kNeedsReloadDBLink : cmd::kConfigNeedsReload));
        handler.dealWithNotifications(okToUse(i % 2));
    }
    EXPECT_EQ(deferredBlocks, 1);
    EXPECT_EQ(std::count(targets.log.begin(), targets.log.end(), "reload"), 0);
    deferred.front()();
    EXPECT_EQ(std::count(targets.log.begin(), targets.log.end(), "reload"), 1);
    EXPECT_EQ(std::count(targets.log.begin(), targets.log.end(), "cleanCache"), 1);
}

TEST(StoreNotices, DeliveredOnTheMainQueueUntilDetached) {
    plat::MainQueue queue;
    plat::ManualDriver driver{queue};
    RecordingNoticeCenter center;
    NoticeCenterUserNotice notice(center, &queue);
    notice.post("用户词库已损坏", "原文件已保留");
    EXPECT_TRUE(center.delivered().empty());  // not on the poster's thread
    driver.pump();
    ASSERT_EQ(center.delivered().size(), 1u);
    EXPECT_EQ(center.delivered()[0].title, "用户词库已损坏");
    EXPECT_EQ(center.delivered()[0].informativeText, "原文件已保留");
    EXPECT_FALSE(center.delivered()[0].identifier);

    notice.post("later", "dropped");
    notice.detach();
    driver.pump();
    EXPECT_EQ(center.history().size(), 1u);
}

} // namespace
} // namespace taviro::test
