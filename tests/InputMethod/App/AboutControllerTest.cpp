#include "InputMethod/App/AboutController.h"
#include "InputMethod/App/Updater.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"

#include <gtest/gtest.h>

namespace taviro::test {
namespace {

struct FakeUpdater : Updater {
    double interval = 86400;
    int backgroundChecks = 0;
    void checkForUpdateInformation() override {}
    void checkForUpdates() override {}
    void checkForUpdatesInBackground() override { ++backgroundChecks; }
    double updateCheckInterval() const override { return interval; }
    void setUpdateCheckInterval(double s) override { interval = s; }
};

TEST(AboutController, VersionLabelAndABackgroundCheckOnTheMainQueue) {
    plat::MainQueue queue;
    plat::ManualDriver driver(queue);
    FakeUpdater updater;
    AboutController about(&updater, "3.1", "120", &queue);
    about.viewDidLoad();
    EXPECT_EQ(about.versionLabel(), "Version 3.1 (build 120)");
    EXPECT_EQ(updater.backgroundChecks, 0);  // loading does not wait for it
    driver.pump();
    EXPECT_EQ(updater.backgroundChecks, 1);
}

TEST(AboutController, PopupFollowsTheUpdatersInterval) {
    struct Case {
        double interval;
        int selected;
    };
    // Item 0 as laid out stays for intervals that match no item.
    const Case cases[] = {{86400, 0}, {604800, 1}, {2592000, 2}, {0, 3}, {172800, 0}, {86400.5, 0}};
    plat::MainQueue queue;
    for (const auto& c : cases) {
        FakeUpdater updater;
        updater.interval = c.interval;
        AboutController about(&updater, "2.0", "1", &queue);
        about.viewDidLoad();
        EXPECT_EQ(about.selectedIndex(), c.selected) << c.interval;
    }
}

TEST(AboutController, ChoosingAnItemSetsItsIntervalAndReopeningShowsIt) {
    plat::MainQueue queue;
    FakeUpdater updater;
    AboutController about(&updater, "2.0", "1", &queue);
    about.viewDidLoad();
    const double expected[] = {86400, 604800, 2592000, 0};
    for (int i = 0; i < 4; ++i) {
        about.updateFreq(i);
        EXPECT_EQ(updater.interval, expected[i]);
    }
    about.updateFreq(2);
    about.updateFreq(4);  // no such item: nothing changes
    about.updateFreq(-1);
    EXPECT_EQ(updater.interval, 2592000);
    AboutController reopened(&updater, "2.0", "1", &queue);
    reopened.viewDidLoad();
    EXPECT_EQ(reopened.selectedIndex(), 2);
    // Without an updater nothing happens.
    AboutController none(nullptr, "2.0", "1", &queue);
    none.viewDidLoad();
    none.updateFreq(1);
    EXPECT_EQ(none.selectedIndex(), 0);
}

TEST(AboutController, CommunityAlertCancelKeepsTheWindowAndALinkClosesIt) {
    plat::MainQueue queue;
    AboutController about(nullptr, "2.0", "1", &queue);
    const auto alert = about.goToWeb();
    EXPECT_EQ(alert.messageText, "加入塔维输入法用户群");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Telegram 群", "Telegram 频道", "QQ 群", "取消"}));
    EXPECT_EQ(alert.informativeText,
              std::string("现在就加入塔维输入法用户群，与其他用户交流使用心得并获取来自官方售后的帮助。\n"
                          "QQ群链接无法使用的话请手动加群：") +
                  AboutController::kGroupNumber + "\n---\n关注塔维官方新闻台，随时掌握第一手最新消息。");
    EXPECT_FALSE(about.alertResponse(1003));
    EXPECT_FALSE(about.windowClosed());
    for (int code : {1000, 1001, 1002}) {
        AboutController a(nullptr, "2.0", "1", &queue);
        auto url = a.alertResponse(code);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->rfind("https://", 0), 0u);
        EXPECT_TRUE(a.windowClosed());
    }
}

} // namespace
} // namespace taviro::test

#include "InputMethod/App/DesktopState.h"
#include "InputMethod/SharedFunctions.h"

namespace taviro::test {
namespace {

// The desktop's appearance setting decides when "SkinColor" follows the system.
TEST(DesktopState, ColorSchemeFeedsTheDarkAppearance) {
    const struct {
        std::uint32_t scheme;
        bool dark;
    } cases[] = {{0, false}, {1, true}, {2, false}, {7, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scheme);
        const auto style = DesktopState::interfaceStyleFromColorScheme(c.scheme);
        setSystemInterfaceStyleSource([style] { return style; });
        EXPECT_EQ(isDarkAppearance(0, systemInterfaceStyle()), c.dark);
        EXPECT_FALSE(isDarkAppearance(1, systemInterfaceStyle()));
        EXPECT_TRUE(isDarkAppearance(2, systemInterfaceStyle()));
    }
    setSystemInterfaceStyleSource(nullptr);
}

} // namespace
} // namespace taviro::test
