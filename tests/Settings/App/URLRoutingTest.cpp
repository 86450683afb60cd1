#include "Settings/App/AppDelegate.h"
#include "Settings/App/SettingsController.h"
#include "Settings/App/URLScheme.h"
#include "Settings/ConfigManager.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kelvane {
namespace {

// A window that records what its presenter asked of it.
class FakeWindow : public SettingsWindowView {
public:
    void showTab(int index) override { log.push_back("tab " + std::to_string(index)); }
    void setContentSize(Size size) override { sizes.push_back(size); }
    bool hasSubPage(std::string_view route) const override { return routes.count(std::string(route)) > 0; }
    void openSubPage(std::string_view route) override { log.push_back("open " + std::string(route)); }
    bool sheetOpen() const override { return sheet; }

    bool sheet = false;
    std::vector<std::string> log;
    std::vector<Size> sizes;
    std::set<std::string> routes{"silence", "customCodetable", "puncMap", "extended", "bootButton"};
};

class URLRoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_ = std::make_unique<ConfigManager>(taviro::test::freshDir("config"));
        controller_ = std::make_unique<SettingsController>(*config_);
        controller_->windowDidLoad(&window_);
        URLSchemeProcessor::setKeyWindow(controller_.get());
        window_.log.clear();
    }
    void TearDown() override { URLSchemeProcessor::setKeyWindow(nullptr); }

    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<SettingsController> controller_;
    FakeWindow window_;
    AppDelegate delegate_;
};

TEST(URLSchemeTest, ParsesHostAndPathWithSlashesRemoved) {
    struct Case {
        const char* url;
        bool parses;
        const char* host;
        const char* path;
    } cases[] = {
        {"taviromac2://tab/two", true, "tab", "two"},
        {"taviromac2://tab/two/", true, "tab", "two"},
        {"taviromac2://tab//t/wo", true, "tab", "two"},
        {"taviromac2://tab/two?x=1#frag", true, "tab", "two"},
        {"taviromac2://tab", true, "tab", ""},
        {"taviromac2://tab///", true, "tab", ""},
        {"taviromac2://functions/puncMap", true, "functions", "puncMap"},
        {"taviromac2://functions/punc%4Dap", true, "functions", "puncMap"},
        {"taviromac2:///two", false, "", ""},
        {"not a url", false, "", ""},
        {"taviromac2:tab/two", false, "", ""},
        {"taviromac2://tab/%zz", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        auto parsed = parseURL(c.url);
        ASSERT_EQ(parsed.has_value(), c.parses) << c.url;
        if (!parsed) continue;
        EXPECT_EQ(parsed->host, c.host) << c.url;
        EXPECT_EQ(parsed->path, c.path) << c.url;
    }
}

TEST(URLSchemeTest, CommandsMatchTheirRawValuesExactly) {
    const char* names[] = {"silence", "bootButton", "customCodetable", "extended", "puncMap",
                           "one", "two", "three", "four", "five"};
    for (const char* name : names) {
        auto command = urlSchemeFunctionsFromRaw(name);
        ASSERT_TRUE(command) << name;
        EXPECT_EQ(rawValue(*command), name);
    }
    EXPECT_FALSE(urlSchemeFunctionsFromRaw("Two"));
    EXPECT_FALSE(urlSchemeFunctionsFromRaw("puncmap"));
    EXPECT_FALSE(urlSchemeTypeFromRaw("Tab"));
    EXPECT_FALSE(urlSchemeTypeFromRaw("function"));
}

// Every command under both hosts, on a window that starts at the general tab.
TEST_F(URLRoutingTest, EveryCommandUnderBothHosts) {
    struct Case {
        const char* url;
        std::vector<std::string> log;
        int selected;
    } cases[] = {
        {"taviromac2://tab/one", {"tab 0"}, 0},
        {"taviromac2://tab/two", {"tab 1"}, 1},
        {"taviromac2://tab/three", {"tab 2"}, 2},
        {"taviromac2://tab/four", {"tab 3"}, 3},
        {"taviromac2://tab/five", {"tab 4"}, 4},
        {"taviromac2://tab/silence", {}, 0},
        {"taviromac2://tab/bootButton", {}, 0},
        {"taviromac2://tab/customCodetable", {}, 0},
        {"taviromac2://tab/extended", {}, 0},
        {"taviromac2://tab/puncMap", {}, 0},
        {"taviromac2://functions/one", {"tab 2"}, 2},
        {"taviromac2://functions/two", {"tab 2"}, 2},
        {"taviromac2://functions/five", {"tab 2"}, 2},
        {"taviromac2://functions/silence", {"tab 2", "open silence"}, 2},
        {"taviromac2://functions/bootButton", {"tab 2", "open bootButton"}, 2},
        {"taviromac2://functions/customCodetable", {"tab 2", "open customCodetable"}, 2},
        {"taviromac2://functions/extended", {"tab 2", "open extended"}, 2},
        {"taviromac2://functions/puncMap", {"tab 2", "open puncMap"}, 2},
        {"taviromac2://tab/", {}, 0},
        {"taviromac2://tab////", {}, 0},
        {"taviromac2://other/two", {}, 0},
        {"taviromac2://TAB/two", {}, 0},
        {"taviromac2://functions/nothing", {}, 0},
        {"garbage", {}, 0},
    };
    for (const auto& c : cases) {
        controller_->selectTabViewItemAtIndex(0);
        window_.log.clear();
        delegate_.routeURL(c.url);
        EXPECT_EQ(window_.log, c.log) << c.url;
        EXPECT_EQ(controller_->selectedIndex(), c.selected) << c.url;
    }
}

TEST_F(URLRoutingTest, ASubPageThatIsNotRegisteredShowsOnlyTheSystemTab) {
    window_.routes.erase("bootButton");
    delegate_.routeURL("taviromac2://functions/bootButton");
    EXPECT_EQ(window_.log, (std::vector<std::string>{"tab 2"}));
}

TEST_F(URLRoutingTest, RoutesRegisteredBeyondTheCommandsOpenUnderFunctions) {
    window_.routes.insert("keyLogger");
    delegate_.routeURL("taviromac2://functions/keyLogger");
    delegate_.routeURL("taviromac2://tab/keyLogger");
    EXPECT_EQ(window_.log, (std::vector<std::string>{"tab 2", "open keyLogger"}));
}

TEST_F(URLRoutingTest, URLsWaitUntilTheWindowIsUp) {
    URLSchemeProcessor::setKeyWindow(nullptr);
    delegate_.routeURL("taviromac2://tab/four");
    delegate_.handleGetURL(std::nullopt);
    delegate_.routeURL("taviromac2://functions/silence");
    EXPECT_TRUE(window_.log.empty());
    EXPECT_EQ(delegate_.pendingURLs().size(), 2u);

    URLSchemeProcessor::setKeyWindow(controller_.get());
    delegate_.windowDidLoad();
    EXPECT_EQ(window_.log, (std::vector<std::string>{"tab 3", "tab 2", "open silence"}));
    EXPECT_TRUE(delegate_.pendingURLs().empty());
}

// While a sheet is open over the window, no URL command and no Touch Bar button
// changes the window under it; nothing is kept for later either.
TEST_F(URLRoutingTest, ASheetOverTheWindowTakesNoCommands) {
    controller_->selectTabViewItemAtIndex(1);
    window_.log.clear();
    window_.sheet = true;
    window_.routes.insert("keyLogger");
    for (const char* url : {"taviromac2://tab/one", "taviromac2://tab/four", "taviromac2://tab/silence",
                            "taviromac2://functions/two", "taviromac2://functions/silence",
                            "taviromac2://functions/keyLogger"}) {
        delegate_.routeURL(url);
        EXPECT_TRUE(window_.log.empty()) << url;
        EXPECT_EQ(controller_->selectedIndex(), 1) << url;
    }
    controller_->touchBarSelectedTab("偏好");
    EXPECT_TRUE(window_.log.empty());
    EXPECT_TRUE(delegate_.pendingURLs().empty());

    window_.sheet = false;
    delegate_.routeURL("taviromac2://tab/four");
    EXPECT_EQ(window_.log, (std::vector<std::string>{"tab 3"}));
}

TEST_F(URLRoutingTest, NoKeyWindowOrAClosedWindowDoesNothing) {
    URLSchemeProcessor::setKeyWindow(nullptr);
    URLSchemeProcessor::selectTab(URLSchemeFunctions::two);
    URLSchemeProcessor::openSubPage(URLSchemeFunctions::silence);
    URLSchemeProcessor::setKeyWindow(controller_.get());
    controller_->windowWillClose();
    URLSchemeProcessor::selectTab(URLSchemeFunctions::two);
    EXPECT_TRUE(window_.log.empty());
    EXPECT_EQ(controller_->selectedIndex(), 0);
}

TEST_F(URLRoutingTest, TheWindowOffersOneTouchBarButtonPerTab) {
    plat::RecordingTouchBarHost host;
    plat::TouchBarHost::setShared(&host);
    SettingsController controller(*config_);
    FakeWindow window;
    controller.windowDidLoad(&window);
    plat::TouchBarHost::setShared(nullptr);
    const auto bar = host.windowBar("settings");
    ASSERT_EQ(bar.items.size(), 5u);
    EXPECT_EQ(bar.items[0], (plat::TouchBarItem{"one", plat::TouchBarItem::Kind::button, "偏好"}));
    EXPECT_EQ(bar.items[4], (plat::TouchBarItem{"five", plat::TouchBarItem::Kind::button, "备份恢复"}));
}

TEST_F(URLRoutingTest, TouchBarButtonsSelectTheirTabByTitle) {
    EXPECT_EQ(SettingsController::touchBarItemIdentifiers(),
              (std::vector<std::string>{"one", "two", "three", "four", "five"}));
    const char* titles[] = {"偏好", "码表与方案", "系统", "栾舟云", "备份恢复"};
    for (int i = 4; i >= 0; --i) {
        EXPECT_EQ(SettingsController::touchBarTitle(kSettingsTabs[static_cast<size_t>(i)].touchBarIdentifier),
                  titles[i]);
        controller_->touchBarSelectedTab(titles[i]);
        EXPECT_EQ(controller_->selectedIndex(), i);
    }
    EXPECT_EQ(SettingsController::touchBarTitle("six"), "");
    controller_->touchBarSelectedTab("设置");
    EXPECT_EQ(controller_->selectedIndex(), 0);
}

} // namespace
} // namespace kelvane
