#include "ControllerFixture.h"

#include "InputMethod/CommandHandler.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace taviro::test {
namespace {

namespace cmd = plat::command;

// Records every step a command takes, in order, and the threads the file work runs on.
class RecordingTargets : public CommandTargets {
public:
    std::vector<std::string> log;
    bool copyWorks = true;
    std::optional<bool> ready;
    std::set<std::thread::id> fileThreads;

    void setEngineReady(bool r) override {
        note(r ? "ready" : "notReady");
        ready = r;
    }
    std::optional<bool> engineReady() const override { return ready; }
    void reloadDBLink() override { note("reload"); }
    void closeAll() override { note("closeAll"); }
    void cleanCache() override { note("cleanCache"); }
    void postNeedReloadPlan() override { note("NeedReloadPlan"); }
    bool removeFile(const FileBeneath& file) override {
        fileWork("remove:" + file.relative.filename().string());
        return false;
    }
    bool copyBundledCustomDatabase() override {
        fileWork("copyCustom");
        return copyWorks;
    }
    void setBootButtonName(const std::string& name) override { note("bootButtonName:" + name); }
    void saveConfig() override { note("saveConfig"); }
    void loadConfig() override { note("loadConfig"); }
    void reloadInputDelegate() override { note("reloadStrategy"); }
    void switchCandidatesPanel(bool vertical) override { note(vertical ? "vertical" : "horizontal"); }
    void setFontSize(FontSize size) override { note("fontSize:" + std::to_string(static_cast<int>(size))); }
    FileBeneath customDBPath() const override { return {"/p", "custom.db"}; }
    FileBeneath userDBPath() const override { return {"/p", "user.db"}; }
    FileBeneath defaultBootButtonsPath() const override { return {"/u", "BootButtons/BootButtons.plist"}; }

    std::vector<std::string> steps() {
        std::lock_guard lk(m_);
        return log;
    }
    long count(const std::string& step) {
        std::lock_guard lk(m_);
        return std::count(log.begin(), log.end(), step);
    }

private:
    void note(std::string step) {
        std::lock_guard lk(m_);
        log.push_back(std::move(step));
    }
    void fileWork(std::string step) {
        std::lock_guard lk(m_);
        log.push_back(std::move(step));
        fileThreads.insert(std::this_thread::get_id());
    }
    std::mutex m_;
};

plat::Command with(const char* name, const char* key, plat::CommandValue value) {
    plat::Command c = plat::Command::plain(name);
    c.userInfo[key] = std::move(value);
    return c;
}

TEST(CommandHandler, EachCommandActsInItsOrder) {
    struct Case {
        plat::Command command;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {with(cmd::kOkToUse, cmd::kOkToUseKey, false), {"notReady"}},
        {with(cmd::kOkToUse, cmd::kOkToUseKey, true), {"ready"}},
        {plat::Command::plain(cmd::kNeedsReloadDBLink), {"reload"}},
        {plat::Command::plain(cmd::kNeedReloadPlan), {"NeedReloadPlan", "cleanCache"}},
        {plat::Command::plain(cmd::kCloseDatabase), {"closeAll"}},
        {plat::Command::plain(cmd::kResetCustom),
         {"notReady", "closeAll", "remove:custom.db", "copyCustom", "reload", "ready"}},
        {plat::Command::plain(cmd::kResetUserDict),
         {"closeAll", "remove:user.db", "remove:user.db-journal", "remove:user.db-wal", "remove:user.db-shm",
          "reload"}},
        {plat::Command::plain(cmd::kResetBootButtons),
         {"remove:BootButtons.plist", "bootButtonName:BootButtons.plist", "saveConfig"}},
        {with(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string(cmd::kHorizontalPanel)), {"horizontal"}},
        {with(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string(cmd::kVerticalPanel)), {"vertical"}},
        {with(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string("斜排")), {}},
        {with(cmd::kSetFontSize, cmd::kSizeKey, std::int64_t{24}), {"fontSize:24"}},
        {with(cmd::kSetFontSize, cmd::kSizeKey, std::int64_t{20}), {}},
        {plat::Command::plain(cmd::kConfigNeedsReload), {"loadConfig", "reloadStrategy", "cleanCache"}},
        // Missing or mistyped arguments and unknown commands do nothing.
        {plat::Command::plain(cmd::kOkToUse), {}},
        {with(cmd::kOkToUse, cmd::kOkToUseKey, std::string("yes")), {}},
        {plat::Command::plain(cmd::kSetFontSize), {}},
        {plat::Command::plain("reboot"), {}},
    };
    for (const auto& c : cases) {
        RecordingTargets targets;
        CommandHandler handler(targets);
        handler.dealWithNotifications(c.command);
        EXPECT_EQ(targets.log, c.steps) << c.command.name;
    }
}

plat::Command okToUse(bool ok) { return with(cmd::kOkToUse, cmd::kOkToUseKey, ok); }

// Serves a handler's main queue until it has nothing left to do, at most 20 s.
void settle(plat::MainQueue& queue, plat::ManualDriver& driver, const CommandHandler& handler) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        driver.pump();
        if (!queue.hasPendingBlocks() && !handler.busy() && !handler.reloadPending()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A flood of resets on the main queue costs one run of each, behind the flood; their
// file work runs on a worker, never on the main thread.
TEST(CommandHandler, AFloodOfResetsDoesItsFileWorkOnceOffTheMainThread) {
    plat::MainQueue queue;
    plat::ManualDriver driver{queue};
    RecordingTargets targets;
    CommandHandler handler(targets, [&queue](std::function<void()> fn) { queue.async(std::move(fn)); });
    long fileWorkBeforeKey = -1;
    auto flood = [&](int n) {
        for (int i = 0; i < n; ++i)
            for (const char* name : {cmd::kResetCustom, cmd::kResetUserDict, cmd::kResetBootButtons})
                queue.async([&handler, name] { handler.dealWithNotifications(plat::Command::plain(name)); });
    };
    flood(5000);
    queue.async([&] { fileWorkBeforeKey = static_cast<long>(targets.fileThreads.size()); });
    flood(5000);
    settle(queue, driver, handler);
    EXPECT_EQ(fileWorkBeforeKey, 0);
    for (const char* step : {"remove:custom.db", "copyCustom", "remove:user.db", "remove:user.db-shm",
                             "remove:BootButtons.plist", "saveConfig"})
        EXPECT_EQ(targets.count(step), 1) << step;
    EXPECT_EQ(targets.count("reload"), 2);  // one for each database reset
    ASSERT_FALSE(targets.fileThreads.empty());
    EXPECT_FALSE(targets.fileThreads.count(std::this_thread::get_id()));
    EXPECT_EQ(targets.ready, std::optional<bool>(true));
}

// While a reset's file work runs on a worker, the commands after it wait: each still
// finds what came before it done. A flag moved by "okToUse" while the reset waited is
// where the reset leaves it.
TEST(CommandHandler, CommandsAfterAResetWaitForItsFileWork) {
    const plat::Command reset = plat::Command::plain(cmd::kResetCustom);
    const plat::Command close = plat::Command::plain(cmd::kCloseDatabase);
    const plat::Command reopen = plat::Command::plain(cmd::kNeedsReloadDBLink);
    const plat::Command vertical = with(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string(cmd::kVerticalPanel));
    const std::vector<std::string> resetSteps{"notReady", "closeAll", "remove:custom.db", "copyCustom", "reload"};
    auto then = [&](std::vector<std::string> more) {
        auto all = resetSteps;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    struct Case {
        const char* what;
        std::vector<plat::Command> commands;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {"alone", {reset}, then({"ready"})},
        {"a close after it", {reset, close}, then({"ready", "closeAll"})},
        {"a panel switch after it", {reset, vertical}, then({"ready", "vertical"})},
        {"the flag lowered after it", {reset, okToUse(false)}, {"notReady", "notReady", "closeAll", "remove:custom.db",
                                                              "copyCustom", "reload", "notReady"}},
        {"the flag lowered and raised after it", {reset, okToUse(false), okToUse(true)},
         {"notReady", "ready", "notReady", "closeAll", "remove:custom.db", "copyCustom", "reload", "ready"}},
        {"a reopen after it", {reset, reopen}, then({"ready", "reload"})},
        {"the flag lowered before it", {okToUse(false), reset}, {"notReady", "notReady", "closeAll", "remove:custom.db",
                                                               "copyCustom", "reload", "ready"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plat::MainQueue queue;
        plat::ManualDriver driver{queue};
        RecordingTargets targets;
        CommandHandler handler(targets, [&queue](std::function<void()> fn) { queue.async(std::move(fn)); });
        for (const auto& command : c.commands) handler.dealWithNotifications(command);
        driver.pump();  // the reset starts: its file work goes to a worker
        // Commands that come meanwhile wait too.
        handler.dealWithNotifications(plat::Command::plain(cmd::kNeedReloadPlan));
        settle(queue, driver, handler);
        auto want = c.steps;
        want.insert(want.end(), {"NeedReloadPlan", "cleanCache"});
        EXPECT_EQ(targets.steps(), want);
    }
}

// A flag that "okToUse" false has held down past the limit is raised again, with a
// log line, and a store left closed meanwhile is reopened; a flag raised in time, or
// lowered again since, is left alone.
TEST(CommandHandler, AFlagHeldDownPastTheLimitIsRaisedWithALogLine) {
    const plat::Command close = plat::Command::plain(cmd::kCloseDatabase);
    const plat::Command reopen = plat::Command::plain(cmd::kNeedsReloadDBLink);
    struct Case {
        const char* what;
        std::vector<plat::Command> commands;
        std::vector<std::string> atLimit;  // what each timer that fires does, in order
        bool logged;
    };
    const Case cases[] = {
        {"flag down", {okToUse(false)}, {"ready"}, true},
        {"flag down, store closed", {okToUse(false), close}, {"reload", "ready"}, true},
        {"store closed and reopened", {okToUse(false), close, reopen}, {"ready"}, true},
        {"raised in time", {okToUse(false), okToUse(true)}, {}, false},
        {"lowered again: the later lowering counts", {okToUse(false), okToUse(true), okToUse(false)}, {"ready"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingTargets targets;
        std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> timers;
        CommandHandler handler(targets, {}, [&](std::chrono::milliseconds delay, std::function<void()> fn) {
            timers.emplace_back(delay, std::move(fn));
        });
        for (const auto& command : c.commands) handler.dealWithNotifications(command);
        targets.log.clear();
        plat::LogCapture logged;
        for (auto& [delay, fn] : timers) {
            EXPECT_EQ(delay, CommandHandler::kFlagDownLimit);
            fn();
        }
        EXPECT_EQ(targets.log, c.atLimit);
        EXPECT_EQ(logged.contains("\"okToUse\" false has kept the input method off its databases"), c.logged)
            << ::testing::PrintToString(logged.lines());
    }
    // Raised by other means meanwhile (its sender left): nothing to do, nothing to say.
    RecordingTargets targets;
    std::function<void()> timer;
    CommandHandler handler(targets, {}, [&](std::chrono::milliseconds, std::function<void()> fn) { timer = fn; });
    handler.dealWithNotifications(okToUse(false));
    targets.setEngineReady(true);
    targets.log.clear();
    plat::LogCapture logged;
    ASSERT_TRUE(timer);
    timer();
    EXPECT_TRUE(targets.log.empty());
    EXPECT_TRUE(logged.lines().empty());
}

TEST(CommandHandler, ResetCustomRaisesTheFlagEvenWhenTheCopyFails) {
    RecordingTargets targets;
    targets.copyWorks = false;
    CommandHandler(targets).dealWithNotifications(plat::Command::plain(cmd::kResetCustom));
    ASSERT_FALSE(targets.log.empty());
    EXPECT_EQ(targets.log.back(), "ready");
}

TEST_F(ControllerTest, PanelSwitchKeepsTheControllerAndTheConfiguredFontSize) {
    set([](Settings& s) { s.fontSize = 18; });
    start();
    session->typeScript("ni");
    ASSERT_TRUE(window().isVisible());
    auto* old = &window();
    DefaultCommandTargets targets(Database::shared(), *config, engine, windows);
    CommandHandler handler(targets);
    handler.dealWithNotifications(with(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string(cmd::kVerticalPanel)));
    EXPECT_NE(&window(), old);
    EXPECT_TRUE(window().isVertical());
    // The composition goes on in the new window.
    EXPECT_TRUE(window().isVisible());
    ASSERT_FALSE(window().visibleCandidates().empty());
    EXPECT_EQ(window().visibleCandidates().front(), "你");
    EXPECT_EQ(window().delegate(), &controller());
    EXPECT_EQ(window().fontSize(), FontSize::s18);
    EXPECT_EQ(window().size(), (std::pair<double, double>{335.0, 310.0}));

    handler.dealWithNotifications(with(cmd::kSetFontSize, cmd::kSizeKey, std::int64_t{24}));
    EXPECT_EQ(window().size(), (std::pair<double, double>{335.0, 414.0}));
    handler.dealWithNotifications(plat::Command::plain(cmd::kConfigNeedsReload));
    EXPECT_EQ(window().fontSize(), FontSize::s24);
    EXPECT_EQ(config->settings()->fontSize, 18);
    EXPECT_FALSE(std::filesystem::exists(perUser / "config.plist"));

    session->typeScript("a");
    EXPECT_TRUE(window().isVertical());
}

// The new window of a layout switch takes the nearest offered size to one an
// earlier version saved.
TEST_F(ControllerTest, PanelSwitchTakesTheNearestOfferedFontSize) {
    set([](Settings& s) { s.fontSize = 28; });
    start();
    DefaultCommandTargets targets(Database::shared(), *config, engine, windows);
    CommandHandler handler(targets);
    handler.dealWithNotifications(with(cmd::kSwitchCandidatesPanel, cmd::kNameKey, std::string(cmd::kVerticalPanel)));
    EXPECT_EQ(window().fontSize(), FontSize::s32);
    EXPECT_EQ(window().size(), (std::pair<double, double>{335.0, 604.0}));
    EXPECT_EQ(config->settings()->fontSize, 28);
}

TEST_F(ControllerTest, ResetBootButtonsDeletesTheFileAndSavesTheName) {
    set([](Settings& s) { s.bootButtonName = "mine.plist"; });
    start();
    struct Targets : DefaultCommandTargets {
        using DefaultCommandTargets::DefaultCommandTargets;
        FileBeneath file;
        FileBeneath defaultBootButtonsPath() const override { return file; }
    } targets(Database::shared(), *config, engine, windows);
    targets.file = {userFolder, std::filesystem::path("BootButtons") / "BootButtons.plist"};
    CommandHandler handler(targets);
    handler.dealWithNotifications(plat::Command::plain(cmd::kResetBootButtons));  // no file: still saves
    EXPECT_EQ(ConfigManager(perUser).settings()->bootButtonName, "BootButtons.plist");
    std::filesystem::create_directories(targets.file.path().parent_path());
    ASSERT_TRUE(plat::writeFileAtomically(targets.file.path(), "x"));
    handler.dealWithNotifications(plat::Command::plain(cmd::kResetBootButtons));
    EXPECT_FALSE(std::filesystem::exists(targets.file.path()));
}

TEST_F(ControllerTest, ResetsReplaceTheStoreFiles) {
    const auto root = freshDir("store");
    auto store = Database::create({root / "TaviroMac", TAVIRO_RESOURCE_DIR, root / "Library"});
    std::filesystem::create_directories(root / "TaviroMac");
    const auto folder = root / "TaviroMac";
    ASSERT_TRUE(plat::writeFileAtomically(folder / "custom.db", "not a database"));
    ASSERT_TRUE(plat::writeFileAtomically(folder / "user.db", "old words"));
    ASSERT_TRUE(plat::writeFileAtomically(folder / "user.db-journal", "old journal"));
    start();
    DefaultCommandTargets targets(*store, *config, engine, windows);
    CommandHandler handler(targets);

    handler.dealWithNotifications(plat::Command::plain(cmd::kResetUserDict));
    store->reloadDBLink().wait();
    EXPECT_FALSE(std::filesystem::exists(folder / "user.db-journal"));
    EXPECT_NE(plat::readWholeFile(folder / "user.db").value_or(""), "old words");

    handler.dealWithNotifications(plat::Command::plain(cmd::kResetCustom));
    store->reloadDBLink().wait();
    EXPECT_TRUE(TaviroIMEngine::isReady());
    store->closeAll();
    // The bundle's schema and phrases, row for row (the store keeps the file
    // in WAL mode, so its header differs from the bundle's).
    auto rows = [](const std::filesystem::path& file) {
        std::vector<std::string> out;
        sqlkit::SQLDatabase db(file.string());
        if (!db.openWithFlags(sqlkit::SQLDatabase::kOpenReadOnly)) return out;
        auto rs = db.executeQuery("SELECT name, sql, '' FROM sqlite_master UNION ALL "
                                  "SELECT Code, \"Table\", Weight FROM CodeTable");
        while (rs && rs->next())
            out.push_back(rs->stringForColumnIndex(0).value_or("") + "|" + rs->stringForColumnIndex(1).value_or("") +
                          "|" + rs->stringForColumnIndex(2).value_or(""));
        if (rs) rs->close();
        return out;
    };
    const auto bundled = rows(std::filesystem::path(TAVIRO_RESOURCE_DIR) / "custom.db");
    EXPECT_FALSE(bundled.empty());
    EXPECT_EQ(rows(folder / "custom.db"), bundled);
}

// A flood of "needsReloadDBLink" on the main queue reopens the store once,
// behind the flood: one opening of each file, and no worker thread or task
// per command.
TEST_F(ControllerTest, AFloodOfReopenCommandsOpensTheStoreOnce) {
    const auto root = freshDir("flood");
    std::filesystem::create_directories(root / "TaviroMac");
    auto store = Database::create({root / "TaviroMac", TAVIRO_RESOURCE_DIR, root / "Library"});
    std::atomic<int> opened{0};
    Database::Hooks hooks;
    hooks.settings = [this] { return config->settings(); };
    hooks.userDatabaseOpened = [&](sqlkit::SQLDatabase*) { ++opened; };
    store->setHooks(hooks);
    store->reloadDBLink().wait();
    start();
    ASSERT_EQ(opened.load(), 1);

    plat::MainQueue queue;
    plat::ManualDriver driver{queue};
    DefaultCommandTargets targets(*store, *config, engine, windows);
    CommandHandler handler(targets, [&queue](std::function<void()> fn) { queue.async(std::move(fn)); });
    const std::size_t threadsBefore = plat::WorkerPool::shared().threadCount();
    for (int i = 0; i < 10000; ++i)
        queue.async([&] { handler.dealWithNotifications(plat::Command::plain(cmd::kNeedsReloadDBLink)); });
    for (int i = 0; i < 5 && queue.hasPendingBlocks(); ++i) driver.pump();
    EXPECT_FALSE(handler.reloadPending());
    // The reopen has run once its future is ready; a later reload supersedes nothing.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!store->isOpen() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    store->reloadDBLink().wait();
    EXPECT_EQ(opened.load(), 3) << "the flood opened user.db " << opened.load() - 2 << " times";
    EXPECT_LE(plat::WorkerPool::shared().threadCount(), threadsBefore + 2);
}

} // namespace
} // namespace taviro::test
