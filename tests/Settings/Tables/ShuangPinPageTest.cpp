#include "Settings/Tables/ShuangPinPage.h"

#include "TablePageFixture.h"
#include "Platform/Foundation/Plist.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using namespace kelvane::test;

class ShuangPinPageTest : public TablePageFixture {
protected:
    void SetUp() override {
        TablePageFixture::SetUp();
        page_ = std::make_unique<ShuangPinPage>(*config_, where_);
    }

    bool chooseAssist(const std::string& title) {
        return runRebuild([&](Done done) { page_->selectAssistTable(title, sink_, done); });
    }

    std::unique_ptr<ShuangPinPage> page_;
};

TEST_F(ShuangPinPageTest, ListsSchemesWithoutKeyHintsAndAssistTablesAtAnyDepth) {
    writeFile(where_.userFolder / "KeyMaps" / "小鹤.plist", "a");
    writeFile(where_.userFolder / "KeyMaps" / "小鹤_rev.plist", "a");
    writeFile(where_.userFolder / "KeyMaps" / "notes.txt", "a");
    writeFile(where_.userFolder / "AssistCodes" / "形码.txt", "a");
    writeFile(where_.userFolder / "AssistCodes" / "sub" / "x.txt", "a");
    writeFile(where_.userFolder / "AssistCodes" / "y.TXT", "a");
    config_->inputPlanName = "小鹤";
    config_->assistPlanName = "sub/x";
    page_->willAppear();
    EXPECT_EQ(page_->schemes(), (std::vector<std::string>{"小鹤"}));
    EXPECT_EQ(page_->assistTables(), (std::vector<std::string>{"sub/x", "形码"}));
    EXPECT_EQ(page_->selectedScheme(), 0);
    EXPECT_EQ(page_->selectedAssistTable(), 0);
    EXPECT_TRUE(page_->assistOn());

    // A removed scheme disappears on the next showing.
    fs::remove(where_.userFolder / "KeyMaps" / "小鹤.plist");
    page_->willAppear();
    EXPECT_TRUE(page_->schemes().empty());
    EXPECT_EQ(page_->selectedScheme(), -1);
    EXPECT_TRUE(posted().empty());
}

TEST_F(ShuangPinPageTest, AssistCodesOffAndOn) {
    config_->assistPlanName = "形码";
    config_->assistCodePlan = 1;
    config_->revealAssist = true;
    page_->willAppear();
    page_->setAssistOn(false);
    ConfigManager reread(where_.perUserFolder);
    EXPECT_EQ(reread.assistPlanName, "不使用辅码");
    EXPECT_EQ(reread.assistCodePlan, -1);
    EXPECT_FALSE(reread.revealAssist);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload", "configNeedsReload",
                                                  "needsReloadDBLink"}));
    page_->willAppear();
    EXPECT_FALSE(page_->assistOn());

    // Ticking the box writes nothing until a table is chosen.
    channel_->clear();
    page_->setAssistOn(true);
    EXPECT_TRUE(page_->assistOn());
    EXPECT_EQ(page_->selectedAssistTable(), -1);
    EXPECT_TRUE(posted().empty());
}

TEST_F(ShuangPinPageTest, QuickExtraAddsOneSemicolonAndRemovesEvery) {
    struct Case {
        const char* before;
        bool on;
        const char* after;
    } cases[] = {{"", true, ";"}, {";", true, ";;"}, {"a;b;;", false, "ab"}, {"ab", false, "ab"}};
    for (const auto& c : cases) {
        config_->extraCode = c.before;
        EXPECT_EQ(page_->quickExtra(), std::string(c.before).find(';') != std::string::npos);
        page_->setQuickExtra(c.on);
        EXPECT_EQ(ConfigManager(where_.perUserFolder).extraCode, c.after) << c.before;
    }
}

// A scheme file whose finals table maps `yunKey` to "ing".
plat::PlistValue schemeWith(const std::string& yunKey, const std::string& version = "2.0") {
    plat::PlistValue scheme;
    scheme["Version"] = version;
    scheme["Sheng"]["m"] = std::string("m");
    scheme["Yun"][yunKey] = std::string("ing");
    scheme["Special"]["aa"] = std::string("a");
    return scheme;
}

// The switch shows ";" as a code key when the scheme in use types it, however
// "spScheme.plist" came to be there; it cannot be turned off then.
TEST_F(ShuangPinPageTest, QuickExtraShowsOnWhileTheSchemeInUseTypesTheSemicolon) {
    struct Case {
        const char* what;
        std::optional<plat::PlistValue> scheme;
        const char* extraCode;
        bool on;
        bool byScheme;
    } cases[] = {
        {"no scheme file", std::nullopt, "", false, false},
        {"letters only", schemeWith("k"), "", false, false},
        {"the scheme types ;", schemeWith(";"), "", true, true},
        {"the scheme types ; and it is listed", schemeWith(";"), ";", true, true},
        {"a version the input method does not read", schemeWith(";", "1.0"), "", false, false},
        {"listed only", schemeWith("k"), "/;", true, false},
    };
    fs::create_directories(where_.perUserFolder);
    fs::create_directories(where_.userFolder / "KeyMaps");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(where_.perUserFolder / "spScheme.plist");
        if (c.scheme) {
            ASSERT_TRUE(plat::writePlistFile(where_.perUserFolder / "spScheme.plist", *c.scheme));
        }
        config_->extraCode = c.extraCode;
        page_->willAppear();
        EXPECT_EQ(page_->quickExtra(), c.on);
        EXPECT_EQ(page_->quickExtraByScheme(), c.byScheme);
        EXPECT_TRUE(posted().empty());
    }

    // Choosing a scheme on the page shows what it types at once.
    ASSERT_TRUE(plat::writePlistFile(where_.userFolder / "KeyMaps" / "分号.plist", schemeWith(";")));
    ASSERT_TRUE(plat::writePlistFile(where_.userFolder / "KeyMaps" / "字母.plist", schemeWith("k")));
    config_->extraCode = "";
    ASSERT_TRUE(page_->selectScheme("分号"));
    EXPECT_TRUE(page_->quickExtra());
    EXPECT_TRUE(page_->quickExtraByScheme());
    ASSERT_TRUE(page_->selectScheme("字母"));
    EXPECT_FALSE(page_->quickExtra());
    EXPECT_FALSE(page_->quickExtraByScheme());
}

TEST_F(ShuangPinPageTest, SchemeSwitchPutsTheFileInPlaceThenSavesTheName) {
    writeFile(where_.userFolder / "KeyMaps" / "自然码.plist", "scheme");
    EXPECT_TRUE(page_->selectScheme("自然码"));
    std::ifstream in(where_.perUserFolder / "spScheme.plist");
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "scheme");
    EXPECT_EQ(ConfigManager(where_.perUserFolder).inputPlanName, "自然码");
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "needReloadPlan"}));

    channel_->clear();
    EXPECT_FALSE(page_->selectScheme("gone"));
    EXPECT_EQ(ConfigManager(where_.perUserFolder).inputPlanName, "自然码");
    EXPECT_TRUE(posted().empty());
}

TEST_F(ShuangPinPageTest, AssistTableRebuildAndAFailureKeepsTheTableInUse) {
    writeFile(where_.userFolder / "AssistCodes" / "形码.txt", "阿\tab\n啊\tab\n");
    page_->willAppear();
    // With no table in use, a failure leaves assist codes off.
    page_->setAssistOn(true);
    EXPECT_FALSE(chooseAssist("gone"));
    EXPECT_FALSE(page_->assistOn());
    EXPECT_EQ(config_->assistCodePlan, -1);

    ASSERT_TRUE(chooseAssist("形码"));
    EXPECT_EQ(config_->assistPlanName, "形码");
    EXPECT_EQ(config_->assistCodePlan, 1);
    EXPECT_EQ(page_->selectedAssistTable(), 0);

    for (const std::string title : {"gone", "../形码"}) {
        page_->setAssistOn(true);
        channel_->clear();
        EXPECT_FALSE(chooseAssist(title)) << title;
        EXPECT_EQ(posted(), kFullBracket);
        EXPECT_TRUE(page_->assistOn());
        EXPECT_EQ(page_->selectedAssistTable(), 0);
        EXPECT_EQ(config_->assistPlanName, "形码");
        EXPECT_EQ(config_->assistCodePlan, 1);
        EXPECT_EQ(query(where_.perUserFolder / "assist.database", "select count(*) from TableCode"), (Rows{{"2"}}));
        EXPECT_FALSE(sink_->events().empty());
    }
}

} // namespace
} // namespace kelvane
