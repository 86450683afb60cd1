#include "Settings/Tables/CodeTablePage.h"

#include "TablePageFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using namespace kelvane::test;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

class CodeTablePageTest : public TablePageFixture {
protected:
    void SetUp() override {
        TablePageFixture::SetUp();
        page_ = std::make_unique<CodeTablePage>(*config_, where_);
    }
    std::vector<std::string> reloads(size_t n) const { return std::vector<std::string>(n, "configNeedsReload"); }

    bool choose(const std::string& title) {
        return runRebuild([&](Done done) { page_->selectMainCodeTable(title, sink_, done); });
    }

    std::unique_ptr<CodeTablePage> page_;
};

TEST_F(CodeTablePageTest, CommitRuleTitlesFollowTheCodeLength) {
    struct Case {
        int length;
        std::array<std::string, 5> titles;
    } cases[] = {
        {4, {"空格上屏", "四码唯一上屏", "统一第五码顶", "空码顶字上屏", "空码直接上屏"}},
        {3, {"空格上屏", "三码唯一上屏", "统一第四码顶", "空码顶字上屏", "空码直接上屏"}},
        {6, {"空格上屏", "六码唯一上屏", "统一第七码顶", "空码顶字上屏", "空码直接上屏"}},
        {10, {"空格上屏", "十码唯一上屏", "统一第四码顶", "空码顶字上屏", "空码直接上屏"}},
    };
    for (const auto& c : cases) EXPECT_EQ(CodeTablePage::commitRuleTitles(c.length), c.titles) << c.length;
}

TEST_F(CodeTablePageTest, CodeLengthChangeKeepsTheRuleAndRetitlesIt) {
    page_->setCommitRule(2);
    page_->setCodeLengthIndex(3);
    ConfigManager reread(where_.perUserFolder);
    EXPECT_EQ(reread.codeLength, 6);
    EXPECT_EQ(reread.fourCode, 2);
    EXPECT_EQ(page_->selectedCommitRule(), 2);
    EXPECT_EQ(page_->commitRules()[2], "统一第七码顶");
    EXPECT_EQ(page_->codeLengthIndex(), 3);
    EXPECT_EQ(posted(), reloads(2));
}

TEST_F(CodeTablePageTest, EmptyCodeMenuMapsToTwoSettings) {
    struct Case {
        int index;
        bool emptyClean, spaceClean;
    } cases[] = {{0, false, false}, {1, true, false}, {2, false, true}};
    for (const auto& c : cases) {
        channel_->clear();
        page_->setEmptyCleanIndex(c.index);
        ConfigManager reread(where_.perUserFolder);
        EXPECT_EQ(reread.emptyClean, c.emptyClean) << c.index;
        EXPECT_EQ(reread.spaceClean, c.spaceClean) << c.index;
        EXPECT_EQ(page_->emptyCleanIndex(), c.index);
        EXPECT_EQ(posted(), reloads(2));
    }
    config_->emptyClean = config_->spaceClean = true;
    EXPECT_EQ(page_->emptyCleanIndex(), 2);
}

TEST_F(CodeTablePageTest, ScanListsTopLevelTablesOnceAndFromEmpty) {
    writeFile(where_.userFolder / "wubi.txt", "");
    writeFile(where_.userFolder / "abc.TXT", "x");
    writeFile(where_.userFolder / "TXTbook.TXT", "");   // only the extension is renamed
    writeFile(where_.userFolder / "dup.txt", "kept");
    writeFile(where_.userFolder / "dup.TXT", "other");  // never overwrites dup.txt
    writeFile(where_.userFolder / ".txt", "");
    writeFile(where_.userFolder / "notes.md", "");
    writeFile(where_.userFolder / "AssistCodes" / "assist.txt", "");
    page_->willAppear();
    EXPECT_EQ(page_->tables(), (std::vector<std::string>{"TXTbook", "abc", "dup", "wubi"}));
    EXPECT_TRUE(fs::exists(where_.userFolder / "abc.txt"));
    EXPECT_TRUE(fs::exists(where_.userFolder / "TXTbook.txt"));
    EXPECT_EQ(readFile(where_.userFolder / "dup.txt"), "kept");

    // Shown again after a table was removed: the list does not keep it.
    fs::remove(where_.userFolder / "wubi.txt");
    page_->willAppear();
    EXPECT_EQ(page_->tables(), (std::vector<std::string>{"TXTbook", "abc", "dup"}));
    config_->codeTableName = "abc";
    EXPECT_EQ(page_->selectedTable(), 1);
    config_->codeTableName = "不使用主码表";
    EXPECT_EQ(page_->selectedTable(), -1);
}

TEST_F(CodeTablePageTest, PickingATableRebuildsAndAFailureKeepsTheLiveTable) {
    writeFile(where_.userFolder / "wubi.txt", "你\twq\n好\tvb\n");
    ASSERT_TRUE(choose("wubi"));
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "configNeedsReload",
                                                  "configNeedsReload", "needsReloadDBLink", "okToUse=true"}));
    EXPECT_EQ(config_->codeTableName, "wubi");
    EXPECT_EQ(config_->codeTableVersion, 1);

    for (const std::string title : {"gone", "../wubi", "/etc/passwd"}) {
        channel_->clear();
        EXPECT_FALSE(choose(title)) << title;
        EXPECT_EQ(posted(), kFullBracket);
        EXPECT_EQ(config_->codeTableName, "wubi");
        EXPECT_EQ(config_->codeTableVersion, 1);
        EXPECT_EQ(query(where_.perUserFolder / "mainCodeTable.database", "select count(*) from CodeTable"),
                  (Rows{{"2"}}));
    }
}

TEST_F(CodeTablePageTest, CheckBoxesSaveAtOnce) {
    page_->setRevealCode(true);
    page_->setEmptySlide(false);
    page_->setCodetableInUserDict(true);
    ConfigManager reread(where_.perUserFolder);
    EXPECT_TRUE(reread.revealCode);
    EXPECT_FALSE(reread.emptySlide);
    EXPECT_TRUE(reread.codetableInUserDict);
    EXPECT_EQ(posted(), reloads(3));
}

} // namespace
} // namespace kelvane
