#include "ControllerFixture.h"

#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Plist.h"
#include "support/BlockedLock.h"

#include <algorithm>

namespace taviro::test {
namespace {

using namespace std::chrono_literals;

struct GuideCase {
    const char* name;
    const char* script;
    const char* committed;
    std::vector<std::string> services;  // synthetic keys and the like
};

class GuideButtons : public ControllerTest, public ::testing::WithParamInterface<GuideCase> {};

TEST_P(GuideButtons, BuiltInTable) {
    const GuideCase& c = GetParam();
    start();
    session->typeScript(c.script);
    EXPECT_EQ(committed(), c.committed) << c.script;
    EXPECT_EQ(session->services().calls(), c.services) << c.script;
    EXPECT_EQ(engine.inputBuffer(), "");
}

const GuideCase kGuideCases[] = {
    {"PairWithCaretBetween", ";h", "《》", {"key:123"}},
    {"UpperCaseKeyIsLowered", ";H", "《》", {"key:123"}},
    {"PlainValue", ";a", "！", {}},
    {"NumberSignIsPlainText", ";q", "#", {}},
    {"SemicolonTwice", ";;", "；", {}},
    {"EmptyValueConsumesTheKey", "'a", "", {}},
    {"QuotesAlternate", "''''''", "‘’‘", {}},
    {"LineEnd", ";n", "", {"key:119"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, GuideButtons, ::testing::ValuesIn(kGuideCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, CaretMovesInsideThePair) {
    start();
    session->typeScript(";h");
    session->typeScript("ni ");
    EXPECT_EQ(committed(), "《你》");
}

TEST_F(ControllerTest, NoCommandsInListedClients) {
    start(std::string("org.vim.MacVim"));
    session->typeScript(";h");
    EXPECT_EQ(committed(), "《》#光标左移");
    session->replaceClient(std::nullopt);  // a client without an identifier
    session->typeScript(";h");
    EXPECT_EQ(committed(), "《》#光标左移");
    EXPECT_TRUE(session->services().calls().empty());
}

TEST_F(ControllerTest, GuideKeysDisabled) {
    set([](Settings& s) { s.disableBootButton = true; });
    start();
    session->typeScript(";h");
    EXPECT_EQ(committed(), "；");
    EXPECT_EQ(marked(), "h");
}

TEST_F(ControllerTest, GuideTableFromTheUserFolderAndItsFallback) {
    std::filesystem::create_directories(userFolder / "BootButtons");
    plat::PlistValue user = plat::PlistValue::dictionary();
    user["a"] = "甲";
    ASSERT_TRUE(plat::writePlistFile(userFolder / "BootButtons" / "BootButtons.plist", user));
    plat::PlistValue fallback = plat::PlistValue::dictionary();
    fallback["a"] = "乙";
    ASSERT_TRUE(plat::writePlistFile(perUser / "BootButtons.plist", fallback));
    plat::PlistValue other = plat::PlistValue::dictionary();
    other["a"] = "丙";
    ASSERT_TRUE(plat::writePlistFile(dir / "other.plist", other));

    struct Case {
        const char* bootButtonName;
        const char* script;
        const char* adds;
    };
    const Case cases[] = {
        {"BootButtons.plist", ";a", "甲"},
        {"BootButtons.plist", ";;", "；"},  // added to a user-folder table
        {"missing.plist", ";a", "乙"},
        {"../../other.plist", ";a", "乙"},  // a name leaving the folder counts as missing
        {"/etc/passwd", ";a", "乙"},
    };
    start();
    std::string expected;
    for (const auto& c : cases) {
        set([&](Settings& s) { s.bootButtonName = c.bootButtonName; });
        session->typeScript(c.script);
        session->typeScript("{Esc}");
        expected += c.adds;
        EXPECT_EQ(committed(), expected) << c.bootButtonName << " " << c.script;
    }
    // The fallback table has no ";" entry: the second ";" is not a guide button.
    set([](Settings& s) { s.bootButtonName = "missing.plist"; });
    session->typeScript(";");
    EXPECT_FALSE(session->type(KeyScript::parse(";")->front()));
}

TEST_F(ControllerTest, GuideTableWithNonStringValuesIsSkipped) {
    std::filesystem::create_directories(userFolder / "BootButtons");
    plat::PlistValue bad = plat::PlistValue::dictionary();
    bad["a"] = 5;
    ASSERT_TRUE(plat::writePlistFile(userFolder / "BootButtons" / "BootButtons.plist", bad));
    start();
    session->typeScript(";a");
    EXPECT_EQ(committed(), "！");  // the table in memory stays
}

// --- function commands --------------------------------------------------

TEST_F(ControllerTest, MacroTextIsDeliveredInPieces) {
    start();
    struct Case {
        const char* text;
        std::vector<std::string> insertions;
        std::vector<std::string> services;
    };
    const Case cases[] = {
        {"《》#光标左移", {"《》"}, {"key:123"}},
        {"#光标左移#光标左移", {}, {"key:123", "key:123"}},
        {"ab#xy", {"ab", "#xy"}, {}},
        {"a#声音b#振动", {"a", "b"}, {}},  // consumed silently, and the scan goes on
        {"#光标右移x", {"x"}, {"key:124"}},
        {"x#链接 https://exa mple.org/p q", {"x"}, {"open:https://example.org/pq"}},
        {"#链接mailto:me@example.org", {}, {"open:mailto:me@example.org"}},
        {"#链接taviromac2://tab/one", {}, {"open:taviromac2://tab/one"}},
        {"#链接file:///etc/passwd", {"file:///etc/passwd"}, {}},
        {"#链接javascript:alert(1)", {"javascript:alert(1)"}, {}},
        {"#链接ftp://example.org", {"ftp://example.org"}, {}},
    };
    for (const auto& c : cases) {
        client().clearLog();
        session->services().clear();
        controller().insertMacroText(c.text);
        EXPECT_EQ(client().insertions(), c.insertions) << c.text;
        EXPECT_EQ(session->services().calls(), c.services) << c.text;
    }
}

TEST_F(ControllerTest, FunctionKeysReturnTheirLengthAndChangeSettings) {
    start();
    struct Case {
        const char* name;
        int returned;
        std::function<bool(const Settings&)> check;
    };
    const Case cases[] = {
        {"#四码上屏", 5, [](const Settings& s) { return s.fourCode == 1; }},
        {"#顶字上屏", 5, [](const Settings& s) { return s.fourCode == 2; }},
        {"#空码顶字上屏", 7, [](const Settings& s) { return s.fourCode == 3; }},
        {"#空码直接上屏", 7, [](const Settings& s) { return s.fourCode == 4; }},
        {"#空格上屏", 5, [](const Settings& s) { return s.fourCode == 0; }},
        {"#全拼", 3, [](const Settings& s) { return !s.quanPin; }},
        {"#全拼", 3, [](const Settings& s) { return s.quanPin; }},
        {"#声音", 0, nullptr},
        {"#abc", 0, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(controller().performFunctionKey(c.name), c.returned) << c.name;
        if (c.check) {
            EXPECT_TRUE(c.check(*config->settings())) << c.name;
            ConfigManager reread(perUser);  // saved as well
            EXPECT_TRUE(c.check(*reread.settings())) << c.name;
        }
    }
    EXPECT_EQ(std::count(engine.log.begin(), engine.log.end(), "reload"), 7);
}

TEST_F(ControllerTest, FullPinyinToggleIsRefusedWithoutDatabases) {
    set([](Settings& s) { s.disableDatabase = true; });
    start();
    EXPECT_EQ(controller().performFunctionKey("#全拼"), 3);
    EXPECT_TRUE(config->settings()->quanPin);
    EXPECT_FALSE(std::filesystem::exists(perUser / "config.plist"));
}

TEST_F(ControllerTest, TraditionalToggleSavesAndHints) {
    start();
    session->typeScript(";f");
    EXPECT_TRUE(config->settings()->s2t);
    EXPECT_EQ(controller().statusHint().imageName(), "fan_light");
    session->typeScript(";f");
    EXPECT_FALSE(config->settings()->s2t);
    EXPECT_EQ(controller().statusHint().imageName(), "jian_light");
    EXPECT_FALSE(ConfigManager(perUser).settings()->s2t);
}

#ifdef LOCK_HOLDER
// The preferences application holds the settings lock: the key neither waits for it
// nor loses the toggle, which is written once the lock is free.
TEST_F(ControllerTest, TraditionalToggleNeverWaitsForTheSettingsLock) {
    ASSERT_TRUE(config->saveConfig());
    plat::ManualDriver retries(plat::MainQueue::shared());
    start();
    BlockedLock blocked(plat::configLockPath(perUser), LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    const auto began = std::chrono::steady_clock::now();
    session->typeScript(";f");
    EXPECT_LT(std::chrono::steady_clock::now() - began, 100ms);
    EXPECT_TRUE(config->settings()->s2t);
    EXPECT_EQ(controller().statusHint().imageName(), "fan_light");
    EXPECT_FALSE(ConfigManager(perUser).settings()->s2t);
    blocked.release();
    retries.advance(1s);
    EXPECT_TRUE(ConfigManager(perUser).settings()->s2t);
}
#endif

TEST_F(ControllerTest, EnglishToggleCommandStoresOnlyWhenPersisted) {
    start();
    defaults.setBool("EnMode", false);
    controller().performFunctionKey("#中英切换");
    EXPECT_TRUE(controller().englishMode());
    EXPECT_FALSE(defaults.boolForKey("EnMode"));
    set([](Settings& s) { s.persistedEnMode = true; });
    controller().performFunctionKey("#中英切换");
    controller().performFunctionKey("#中英切换");
    EXPECT_TRUE(defaults.boolForKey("EnMode"));
}

TEST_F(ControllerTest, UndoLastCommitOnceAndOnlyInItsClient) {
    start();
    session->typeScript("nihao1");
    EXPECT_EQ(committed(), "你好");
    session->typeScript(";u");
    EXPECT_EQ(committed(), "");
    EXPECT_EQ(session->services().keyPresses(), (std::vector<std::uint16_t>{51, 51}));
    session->typeScript(";u");  // a second undo removes nothing more
    EXPECT_EQ(session->services().keyPresses().size(), 2u);
    // The last commit came from another client: nothing to undo here.
    session->typeScript("nihao1");
    session->replaceClient(std::string("org.example.other"));
    session->typeScript(";u");
    EXPECT_EQ(session->services().keyPresses().size(), 2u);
    // Repeating the last commit still works.
    controller().performFunctionKey("#上次上屏");
    EXPECT_EQ(committed(), "你好");
}

TEST_F(ControllerTest, EditingCommands) {
    start();
    client().setText("ab");
    session->services().pasteboard = "贴";
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"#硬回车", "ab\n"}, {"#软回车", "ab\n\u2028"}, {"#粘贴", "ab\n\u2028贴"}, {"#行首", "ab\n\u2028贴"}};
    for (const auto& c : cases) {
        controller().performFunctionKey(c.name);
        EXPECT_EQ(client().text(), c.text) << c.name;
    }
    controller().performFunctionKey("#退格");
    EXPECT_EQ(client().text(), "ab\n\u2028贴");  // deferred by 0.1 s
    session->driver().advance(100ms);
    EXPECT_EQ(client().text(), "ab\n\u2028");
}

} // namespace
} // namespace taviro::test
