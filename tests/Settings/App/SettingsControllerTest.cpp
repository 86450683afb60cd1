#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "support/BlockedLock.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kelvane {
namespace {

class SizeRecorder : public SettingsWindowView {
public:
    void showTab(int) override {}
    void setContentSize(Size size) override { sizes.push_back(size); }
    bool hasSubPage(std::string_view) const override { return false; }
    void openSubPage(std::string_view) override {}
    void showNotice(std::string_view message) override { notices.emplace_back(message); }
    std::vector<Size> sizes;
    std::vector<std::string> notices;
};

// A damaged "config.plist" is set aside when the settings are read; the window tells
// the user once, whether the damage was found at start or when a page is shown again.
TEST(SettingsControllerTest, ADamagedSettingsFileIsToldOnceOverTheWindow) {
    const auto folder = taviro::test::freshDir("config");
    const auto damage = [&] { ASSERT_TRUE(plat::writeFileAtomically(folder / "config.plist", "<plist><dict><key>")); };
    damage();
    ConfigManager config(folder);
    SettingsController controller(config);
    SizeRecorder view;
    controller.windowDidLoad(&view);
    ASSERT_EQ(view.notices.size(), 1u);
    EXPECT_NE(view.notices[0].find("config.plist.damaged-"), std::string::npos) << view.notices[0];
    controller.refreshSettings();
    EXPECT_EQ(view.notices.size(), 1u);

    damage();
    controller.refreshSettings();
    EXPECT_EQ(view.notices.size(), 2u);
    controller.refreshSettings();
    EXPECT_EQ(view.notices.size(), 2u);
}

#ifdef LOCK_HOLDER
plat::PlistValue storedFontSize(const std::filesystem::path& folder) {
    auto file = plat::readPlistFile(folder / "config.plist", plat::PlistValue::Type::Dictionary);
    const plat::PlistValue* value = file ? file->find("FontSize") : nullptr;
    return value ? *value : plat::PlistValue();
}

// With the settings lock out of reach, a click that saves returns at once and asks the
// input method for no reload; the value stays through a page shown again, the window
// tells the user once, and once the lock can be had the value is written and the
// reload posted.
TEST(SettingsControllerTest, ASaveWhileTheLockIsOutOfReachNeverBlocksTheWindow) {
    using namespace std::chrono_literals;
    using taviro::test::LockBlock;
    for (const LockBlock how : {LockBlock::otherProcess, LockBlock::folder, LockBlock::link, LockBlock::unreadable}) {
        SCOPED_TRACE(taviro::test::lockBlockName(how));
        auto channel = std::make_shared<plat::RecordingCommandChannel>();
        const auto previous = NotificationSender::setChannel(channel);
        const auto folder = taviro::test::freshDir("config");
        plat::ManualDriver driver(plat::MainQueue::shared());
        ConfigManager config(folder);
        config.save();
        SettingsController controller(config);
        SizeRecorder view;
        controller.windowDidLoad(&view);
        channel->clear();

        taviro::test::BlockedLock blocked(plat::configLockPath(folder), how, LOCK_HOLDER);
        if (!blocked.ready()) {
            EXPECT_EQ(how, LockBlock::unreadable);
        } else {
            config.fontSize = 24;
            const auto start = std::chrono::steady_clock::now();
            config.save();
            EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
            EXPECT_TRUE(channel->log().empty());
            EXPECT_EQ(storedFontSize(folder), plat::PlistValue(16));
            controller.refreshSettings();
            EXPECT_EQ(config.fontSize, 24);

            driver.advance(1s);
            EXPECT_TRUE(view.notices.empty());
            driver.advance(20s);
            ASSERT_EQ(view.notices.size(), 1u);
            EXPECT_NE(view.notices[0].find("设置暂时无法保存"), std::string::npos) << view.notices[0];
            EXPECT_TRUE(channel->log().empty());
            EXPECT_EQ(storedFontSize(folder), plat::PlistValue(16));

            blocked.release();
            driver.advance(6s);
            EXPECT_EQ(storedFontSize(folder), plat::PlistValue(24));
            EXPECT_EQ(channel->log(), std::vector<std::string>{"configNeedsReload"});
            EXPECT_EQ(view.notices.size(), 1u);
            EXPECT_EQ(ConfigManager(folder).fontSize, 24);
        }
        controller.windowWillClose();
        NotificationSender::setChannel(previous);
    }
}
#endif

TEST(SettingsControllerTest, CodeTableTabHeightFollowsTheSettings) {
    ConfigManager config(taviro::test::freshDir("config"));
    struct Case {
        const char* table;
        bool disableDatabase;
        bool quanPin;
        double height;
    } cases[] = {
        {kNoMainCodeTable, false, true, 172}, {kNoMainCodeTable, false, false, 253},
        {kNoMainCodeTable, true, true, 172},  {kNoMainCodeTable, true, false, 253},
        {"wubi", false, true, 440},           {"wubi", false, false, 440},
        {"wubi", true, true, 172},            {"wubi", true, false, 253},
    };
    for (const auto& c : cases) {
        config.codeTableName = c.table;
        config.disableDatabase = c.disableDatabase;
        config.quanPin = c.quanPin;
        EXPECT_EQ(SettingsController::codeTableTabHeight(config), c.height)
            << c.table << " disable=" << c.disableDatabase << " quanPin=" << c.quanPin;
    }
}

TEST(SettingsControllerTest, EachTabGivesTheWindowItsSizeWithTheTopEdgeFixed) {
    ConfigManager config(taviro::test::freshDir("config"));
    SettingsController controller(config);
    SizeRecorder window;
    controller.windowDidLoad(&window);
    ASSERT_EQ(window.sizes, (std::vector<Size>{{550, 478}}));
    const double top = controller.frame().y + controller.frame().height;
    const double left = controller.frame().x;

    const Size expected[] = {{550, 478}, {530, 172}, {500, 390}, {600, 390}, {450, 300}};
    for (int i : {2, 0, 3, 4, 1, 2}) {
        controller.didSelectTabViewItem(i);
        EXPECT_EQ(controller.contentSize(), expected[i]) << i;
        EXPECT_EQ(window.sizes.back(), expected[i]) << i;
        EXPECT_EQ(controller.frame().y + controller.frame().height, top);
        EXPECT_EQ(controller.frame().x, left);
        EXPECT_EQ(controller.frame().height, expected[i].height + SettingsController::kTitleBarHeight);
    }
    // The code-table height is read at each selection.
    config.codeTableName = "wubi";
    controller.selectTabViewItemAtIndex(1);
    EXPECT_EQ(controller.contentSize(), (Size{530, 440}));
    config.disableDatabase = true;
    config.quanPin = false;
    controller.selectTabViewItemAtIndex(1);
    EXPECT_EQ(controller.contentSize(), (Size{530, 253}));

    EXPECT_FALSE(controller.contentSizeForTab("other"));
    const size_t before = window.sizes.size();
    controller.didSelectTabViewItem(7);
    EXPECT_EQ(window.sizes.size(), before);
}

} // namespace
} // namespace kelvane
