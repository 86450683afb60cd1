#include "ControllerFixture.h"

#include "InputMethod/CommandHandler.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace taviro::test {
namespace {

namespace cmd = plat::command;

// Records every step a command takes, in order.
class RecordingTargets : public CommandTargets {
public:
    std::vector<std::string> log;
    bool copyWorks = true;

    void setEngineReady(bool ready) override { log.push_back(ready ? "ready" : "notReady"); }
    void reloadDBLink() override { log.push_back("reload"); }
    void closeAll() override { log.push_back("closeAll"); }
    void cleanCache() override { log.push_back("cleanCache"); }
    void postNeedReloadPlan() override { log.push_back("NeedReloadPlan"); }
    bool removeFile(const FileBeneath& file) override {
        log.push_back("remove:" + file.relative.filename().string());
        return false;
    }
    bool copyBundledCustomDatabase() override {
        log.push_back("copyCustom");
        return copyWorks;
    }
    void setBootButtonName(const std::string& name) override { log.push_back("bootButtonName:" + name); }
    void saveConfig() override { log.push_back("saveConfig"); }
    void loadConfig() override { log.push_back("loadConfig"); }
    void reloadInputDelegate() override { log.push_back("reloadStrategy"); }
    void switchCandidatesPanel(bool vertical) override { log.push_back(vertical ? "vertical" : "horizontal"); }
    void setFontSize(FontSize size) override { log.push_back("fontSize:" + std::to_string(static_cast<int>(size))); }
    FileBeneath customDBPath() const override { return {"/p", "custom.db"}; }
    FileBeneath userDBPath() const override { return {"/p", "user.db"}; }
    FileBeneath defaultBootButtonsPath() const override { return {"/u", "BootButtons/BootButtons.plist"}; }
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
    EXPECT_FALSE(window().isVisible());  // shown again by the next refresh
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
