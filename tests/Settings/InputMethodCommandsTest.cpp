#include "Settings/InputMethodCommands.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Settings/ConfigManager.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Foundation/FileLock.h"
#include "support/BlockedLock.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

namespace {

using kelvane::ConfigManager;
using kelvane::InputMethodCommands;
using namespace kelvane::test;
namespace fs = std::filesystem;

class InputMethodCommandsTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        root_ = taviro::test::freshDir("commands");
        perUser_ = root_ / "TaviroMac";
        user_ = root_ / "塔维输入法";
        fs::create_directories(perUser_);
        config_ = std::make_unique<ConfigManager>(perUser_);
    }
    fs::path root_, perUser_, user_;
    std::unique_ptr<ConfigManager> config_;
};

TEST_F(InputMethodCommandsTest, SchemeChoiceSavesCopiesThenPosts) {
    writeFile(user_ / "KeyMaps" / "小鹤.plist", "scheme");
    writeFile(perUser_ / "spScheme.plist", "old");
    EXPECT_TRUE(InputMethodCommands::selectDoublePinyinScheme(*config_, "小鹤", perUser_, user_));
    EXPECT_EQ(readFile(perUser_ / "spScheme.plist"), "scheme");
    EXPECT_EQ(ConfigManager(perUser_).inputPlanName, "小鹤");
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "needReloadPlan"}));

    // A missing or escaping scheme leaves the active one in place, with its name, and
    // tells the input method nothing.
    for (const char* name : {"absent", "../../x", "/etc/x"}) {
        channel_->clear();
        EXPECT_FALSE(InputMethodCommands::selectDoublePinyinScheme(*config_, name, perUser_, user_));
        EXPECT_EQ(readFile(perUser_ / "spScheme.plist"), "scheme");
        EXPECT_EQ(ConfigManager(perUser_).inputPlanName, "小鹤") << name;
        EXPECT_TRUE(posted().empty()) << name;
    }
}

TEST_F(InputMethodCommandsTest, PanelAndFontSize) {
    InputMethodCommands::chooseCandidatePanel(*config_, true);
    EXPECT_TRUE(ConfigManager(perUser_).verticalCandidates);
    InputMethodCommands::chooseCandidatePanel(*config_, false);
    InputMethodCommands::chooseFontSize(*config_, 24);
    EXPECT_EQ(ConfigManager(perUser_).fontSize, 24);
    InputMethodCommands::candidateFontChanged(*config_);
    InputMethodCommands::resetUserDict();
    InputMethodCommands::resetCustom();
    InputMethodCommands::resetBootButtons();
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "switchCandidatesPanel=竖排候选栏",
                                                  "configNeedsReload", "switchCandidatesPanel=横排候选栏",
                                                  "configNeedsReload", "setFontSize=24", "setFontSize=24",
                                                  "resetUserDict", "resetCustom", "resetBootButtons"}));
}

TEST_F(InputMethodCommandsTest, RestoreOrder) {
    struct Case {
        const char* name;
        bool scheme;
        plat::PlistValue::Dictionary restored;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"plain", false, {{"S2T", true}},
         {"okToUse=false", "closeDatabase", "needsReloadDBLink", "configNeedsReload", "okToUse=true"}},
        {"scheme_panel_size", true, {{"VerticalCandidates", true}, {"FontSize", 18}},
         {"okToUse=false", "closeDatabase", "needReloadPlan", "needsReloadDBLink", "configNeedsReload",
          "okToUse=true", "switchCandidatesPanel=竖排候选栏", "setFontSize=18"}},
        {"size_of_an_earlier_version", false, {{"FontSize", 20}},
         {"okToUse=false", "closeDatabase", "needsReloadDBLink", "configNeedsReload", "okToUse=true",
          "setFontSize=18"}},
        {"mistyped_values", false, {{"VerticalCandidates", 1}, {"FontSize", "18"}},
         {"okToUse=false", "closeDatabase", "needsReloadDBLink", "configNeedsReload", "okToUse=true"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel_->clear();
        InputMethodCommands::restoreBackup(*config_, [&] {
            EXPECT_TRUE(plat::writePlistFile(perUser_ / "config.plist", plat::PlistValue(c.restored)));
            return c.scheme;
        });
        EXPECT_EQ(posted(), c.expected);
    }
    EXPECT_TRUE(config_->verticalCandidates);  // the settings were loaded again
}

#ifdef LOCK_HOLDER
// A change still waiting for the settings lock when a backup is restored is given up:
// the retry must not write it over the restored settings.
TEST_F(InputMethodCommandsTest, RestoreGivesUpChangesWaitingForTheLock) {
    using namespace std::chrono_literals;
    plat::ManualDriver driver(plat::MainQueue::shared());
    config_->save();
    taviro::test::BlockedLock blocked(plat::configLockPath(perUser_), taviro::test::LockBlock::otherProcess,
                                      LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    config_->fontSize = 24;
    config_->save();
    ASSERT_TRUE(config_->hasPendingChanges());
    InputMethodCommands::restoreBackup(*config_, [&] {
        EXPECT_TRUE(plat::writePlistFile(perUser_ / "config.plist", plat::PlistValue(plat::PlistValue::Dictionary{
                                                                         {"FontSize", 18}})));
        return false;
    });
    EXPECT_EQ(config_->fontSize, 18);
    blocked.release();
    driver.advance(10s);
    EXPECT_EQ(ConfigManager(perUser_).fontSize, 18);
}
#endif

TEST(TableFileNameTest, OnlyTheExtensionChangesAndNothingIsOverwritten) {
    const fs::path dir = taviro::test::freshDir("names");
    writeFile(dir / "abc.TXT", "a");
    writeFile(dir / "ATXTB.TXT", "b");
    writeFile(dir / "dup.TXT", "new");
    writeFile(dir / "dup.txt", "kept");
    writeFile(dir / "sub" / "x.TXT", "c");
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {{"abc.TXT", "abc.txt"}, {"ATXTB.TXT", "ATXTB.txt"}, {"dup.TXT", "dup.TXT"},
                          {"sub/x.TXT", "sub/x.TXT"}, {"plain.txt", "plain.txt"}, {".TXT", ".TXT"},
                          {"missing.TXT", "missing.TXT"}};
    for (const auto& c : cases) EXPECT_EQ(InputMethodCommands::normaliseTableFileName(dir, c.in), c.out) << c.in;
    EXPECT_EQ(readFile(dir / "abc.txt"), "a");
    EXPECT_FALSE(fs::exists(dir / "abc.TXT"));
    EXPECT_EQ(readFile(dir / "ATXTB.txt"), "b");
    EXPECT_EQ(readFile(dir / "dup.txt"), "kept");
    EXPECT_EQ(readFile(dir / "dup.TXT"), "new");
    EXPECT_TRUE(fs::exists(dir / "sub" / "x.TXT"));
}

} // namespace
