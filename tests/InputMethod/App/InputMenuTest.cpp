#include "InputMethod/App/InputMenu.h"
#include "InputMethod/App/Notices.h"
#include "InputMethod/App/Updater.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Settings.h"
#include "Platform/Foundation/Plist.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

namespace taviro::test {
namespace {

std::vector<std::string> titles(const InputMenu& menu) {
    std::vector<std::string> out;
    for (const auto& item : menu.items) out.push_back(item.separator ? "-" : item.title);
    return out;
}

TEST(InputMenu, ItemsAndTitlesFollowTheOptions) {
    struct Case {
        const char* what;
        std::string codeTable, assist;
        bool s2t, revealCode, revealAssist;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"no tables", "不使用主码表", "不使用辅码", false, false, false,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：关", "-", "检查更新", "关于..."}},
        {"no tables, options on (hidden items stay hidden)", "不使用主码表", "不使用辅码", true, true, true,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：开", "-", "检查更新", "关于..."}},
        {"code table only", "五笔86", "不使用辅码", false, true, false,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：关", "编码反查：开", "-", "检查更新", "关于..."}},
        {"assist only", "不使用主码表", "自然码辅码", true, false, false,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：开", "辅码提示：关", "-", "检查更新", "关于..."}},
        {"both", "五笔86", "自然码辅码", false, false, true,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：关", "编码反查：关", "辅码提示：开", "-", "检查更新",
          "关于..."}},
        {"both, all on", "五笔86", "自然码辅码", true, true, true,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：开", "编码反查：开", "辅码提示：开", "-", "检查更新",
          "关于..."}},
        // The sentinels are compared exactly.
        {"empty names are tables", "", "", false, false, false,
         {"Kelvane...", "自定义编码...", "-", "输简出繁：关", "编码反查：关", "辅码提示：关", "-", "检查更新",
          "关于..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Settings s;
        s.codeTableName = c.codeTable;
        s.assistPlanName = c.assist;
        s.s2t = c.s2t;
        s.revealCode = c.revealCode;
        s.revealAssist = c.revealAssist;
        const InputMenu menu = buildInputMenu(s);
        EXPECT_EQ(menu.title, "塔维输入法 2");
        EXPECT_EQ(titles(menu), c.titles);
    }
}

TEST(InputMenu, ActionsAndTheCustomCodeKeyEquivalent) {
    Settings s;
    s.codeTableName = "五笔86";
    s.assistPlanName = "自然码辅码";
    const InputMenu menu = buildInputMenu(s);
    std::vector<std::string> actions;
    for (const auto& item : menu.items) actions.push_back(item.action);
    EXPECT_EQ(actions, (std::vector<std::string>{"settings:", "toCustom:", "", "s2t:", "switchRevealCode:",
                                                 "switchRevealAssist:", "", "checkUpdate:", "about:"}));
    EXPECT_EQ(menu.items[1].keyEquivalent, "=");
    EXPECT_EQ(menu.items[1].modifierMask, 0x20000u | 0x100000u);
    for (std::size_t i = 0; i < menu.items.size(); ++i)
        if (i != 1) {
            EXPECT_TRUE(menu.items[i].keyEquivalent.empty()) << i;
        }
}

struct MenuFixture : ::testing::Test {
    std::filesystem::path folder = freshDir("menu");
    ConfigManager config{folder};
    RecordingNoticeCenter notices;
    PackageManagerUpdater updater{notices};
    std::vector<std::string> calls;
    bool handler = false;

    InputMenuActions actions() {
        return InputMenuActions(MenuEnvironment{
            &config, &updater, [this] { calls.push_back("about"); },
            [this] {
                calls.push_back("launch");
                return true;
            },
            [this] { return handler; },
            [this](const std::string& url) {
                calls.push_back("open:" + url);
                return true;
            }});
    }
};

TEST_F(MenuFixture, TogglesSaveTheOptionAndTheNextMenuShowsIt) {
    auto a = actions();
    ASSERT_EQ(titles(buildInputMenu(*config.settings()))[3], "输简出繁：关");
    EXPECT_TRUE(a.perform("s2t:"));
    EXPECT_EQ(titles(buildInputMenu(*config.settings()))[3], "输简出繁：开");
    // Saved to "config.plist", where a fresh reader finds it.
    ConfigManager reread(folder);
    EXPECT_TRUE(reread.settings()->s2t);
    EXPECT_TRUE(a.perform("switchRevealCode:"));
    EXPECT_TRUE(a.perform("switchRevealAssist:"));
    EXPECT_TRUE(a.perform("switchRevealAssist:"));
    ConfigManager again(folder);
    EXPECT_TRUE(again.settings()->revealCode);
    EXPECT_FALSE(again.settings()->revealAssist);
    EXPECT_TRUE(calls.empty());
}

TEST_F(MenuFixture, CustomCodeOpensTheEditorOnlyWhenTheSchemeHasAHandler) {
    auto a = actions();
    handler = false;
    a.perform("toCustom:");
    handler = true;
    a.perform("toCustom:");
    a.perform("perferfence:");
    a.perform("settings:");
    EXPECT_EQ(calls, (std::vector<std::string>{"launch", "open:taviromac2://functions/customCodetable",
                                               "open:taviromac2://tab/one", "launch"}));
}

TEST_F(MenuFixture, AboutTwiceOpensTwiceAndCheckUpdateSaysThePackageManagerUpdates) {
    auto a = actions();
    a.perform("about:");
    a.perform("about:");
    EXPECT_EQ(calls, (std::vector<std::string>{"about", "about"}));
    a.perform("checkUpdate:");
    ASSERT_EQ(notices.history().size(), 1u);
    EXPECT_NE(notices.history()[0].informativeText.find("软件包管理器"), std::string::npos);
    EXPECT_FALSE(a.perform("unknown:"));
}

TEST(PackageManagerUpdater, IntervalIsKeptAcrossInstancesAndNothingIsFound) {
    RecordingNoticeCenter notices;
    PackageManagerUpdater first(notices);
    EXPECT_EQ(first.updateCheckInterval(), 86400);
    bool found = false;
    first.setFoundHandler([&] { found = true; });
    first.checkForUpdateInformation();
    first.checkForUpdatesInBackground();
    EXPECT_FALSE(found);
    EXPECT_TRUE(notices.history().empty());
    first.setUpdateCheckInterval(2592000);
    PackageManagerUpdater second(notices);
    EXPECT_EQ(second.updateCheckInterval(), 2592000);
    second.setUpdateCheckInterval(0);
    EXPECT_EQ(first.updateCheckInterval(), 0);
}

} // namespace
} // namespace taviro::test
