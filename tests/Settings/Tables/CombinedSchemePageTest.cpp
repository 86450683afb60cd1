#include "Settings/Tables/CombinedSchemePage.h"

#include "Platform/Foundation/TemporaryFiles.h"
#include "Settings/Pages/PbarController.h"
#include "TablePageFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using namespace kelvane::test;
using Page = CombinedSchemePage;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> reloads(size_t n) { return std::vector<std::string>(n, "configNeedsReload"); }

class CombinedSchemePageTest : public TablePageFixture {
protected:
    void SetUp() override {
        TablePageFixture::SetUp();
        page_ = std::make_unique<Page>(*config_, where_);
    }

    const Page::Controls& c() const { return page_->controls(); }
    int indexOf(const std::string& title) const {
        const auto& list = page_->mainTables();
        auto it = std::find(list.begin(), list.end(), title);
        return it == list.end() ? -1 : int(it - list.begin());
    }

    bool chooseMain(const std::string& title) {
        sheet_ = PbarController::make();
        return runRebuild([&](Done done) { page_->selectMainCodeTable(title, sheet_, done); });
    }
    bool chooseAssist(const std::string& title) {
        sheet_ = PbarController::make();
        return runRebuild([&](Done done) { page_->selectAssistTable(title, sheet_, done); });
    }
    Rows mainRows() const {
        return query(where_.perUserFolder / "mainCodeTable.database",
                     "select Code, \"Table\" from CodeTable order by rowid");
    }

    std::unique_ptr<Page> page_;
    std::shared_ptr<PbarController> sheet_;
};

TEST_F(CombinedSchemePageTest, SetUpShowsTheSettingsAndChangesNone) {
    writeFile(where_.userFolder / "wubi.txt", "");
    writeFile(where_.userFolder / "KeyMaps" / "小鹤.plist", "");
    writeFile(where_.userFolder / "AssistCodes" / "形码.txt", "");
    struct Case {
        const char* what;
        bool quanPin;
        const char* table;
        const char* assist;
        bool emptyClean, spaceClean;
        int codeLength, fourCode;
    } cases[] = {
        {"defaults", true, "不使用主码表", "不使用辅码", false, false, 4, 0},
        {"double pinyin with both tables", false, "wubi", "形码", true, false, 3, 2},
        {"both empty-code flags", false, "wubi", "不使用辅码", true, true, 6, 4},
        {"a table that is gone", true, "removed", "gone", false, true, 4, 1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        config_->quanPin = k.quanPin;
        config_->codeTableName = k.table;
        config_->assistPlanName = k.assist;
        config_->emptyClean = k.emptyClean;
        config_->spaceClean = k.spaceClean;
        config_->codeLength = k.codeLength;
        config_->fourCode = k.fourCode;
        config_->inputPlanName = "小鹤";
        config_->uen2un = true;
        config_->moveBack = false;
        channel_->clear();
        Page page(*config_, where_);
        page.setUp();
        const auto& s = page.controls();

        EXPECT_EQ(s.quanpinViewHidden, !k.quanPin);
        EXPECT_EQ(s.shuangpinViewHidden, k.quanPin);
        EXPECT_EQ(s.quanpinButton.on, k.quanPin);
        EXPECT_EQ(s.shuangpinButton.on, !k.quanPin);

        const bool main = std::string(k.table) != "不使用主码表";
        EXPECT_EQ(s.mainCheckBox.on, main);
        for (bool enabled : {s.mainSelector.enabled, s.revealCode.enabled, s.upMethods.enabled, s.emptySlide.enabled,
                             s.emptyCleanMethod.enabled, s.codeLength.enabled, s.codetableInUserDict.enabled})
            EXPECT_EQ(enabled, main);
        EXPECT_EQ(page.mainTables(), std::vector<std::string>{"wubi"}); // listed even when off
        EXPECT_EQ(s.mainSelector.selected, std::string(k.table) == "wubi" ? 0 : -1);

        const bool assist = std::string(k.assist) != "不使用辅码";
        EXPECT_EQ(s.assistCheckBox.on, assist);
        for (bool enabled :
             {s.assistSelector.enabled, s.revealAssist.enabled, s.dupGoBack.enabled, s.wordFirst.enabled})
            EXPECT_EQ(enabled, assist);
        EXPECT_EQ(s.assistSelector.selected, std::string(k.assist) == "形码" ? 0 : -1);

        EXPECT_EQ(s.spSelector.selected, 0);
        EXPECT_EQ(s.emptyCleanMethod.selected, k.spaceClean ? 2 : k.emptyClean ? 1 : 0);
        EXPECT_EQ(s.codeLength.selected, k.codeLength - 3);
        EXPECT_EQ(s.upMethods.selected, k.fourCode);
        EXPECT_EQ(page.commitRules()[1], k.codeLength == 3   ? "三码唯一上屏"
                                         : k.codeLength == 4 ? "四码唯一上屏"
                                                             : "六码唯一上屏");
        EXPECT_FALSE(s.dupGoBack.on);
        EXPECT_TRUE(s.wordFirst.on);
        EXPECT_TRUE(s.emptySlide.on);
        for (size_t i = 0; i < s.corrections.size(); ++i)
            EXPECT_EQ(s.corrections[i].on, i == 3) << i;
        EXPECT_TRUE(posted().empty());
    }
}

TEST_F(CombinedSchemePageTest, ListsAreReadFromEmptyAtEverySetUp) {
    writeFile(where_.userFolder / "KeyMaps" / "小浪双拼.plist", "");
    writeFile(where_.userFolder / "KeyMaps" / "小浪双拼_rev.plist", "");
    writeFile(where_.userFolder / "KeyMaps" / "a_revised.plist", "");
    writeFile(where_.userFolder / "AssistCodes" / "sub" / "x.txt", "");
    writeFile(where_.userFolder / "AssistCodes" / "y.TXT", "");
    writeFile(where_.userFolder / "AssistCodes" / "不使用辅码.txt", "");
    writeFile(where_.userFolder / "abc.TXT", "");
    writeFile(where_.userFolder / "ATXTB.TXT", "");
    writeFile(where_.userFolder / "不使用主码表.txt", "");
    writeFile(where_.userFolder / "sub" / "inner.txt", "");
    for (int round = 0; round < 2; ++round) {
        page_->setUp();
        EXPECT_EQ(page_->schemes(), std::vector<std::string>{"小浪双拼"});
        EXPECT_EQ(page_->assistTables(), std::vector<std::string>{"sub/x"});
        EXPECT_EQ(page_->mainTables(), (std::vector<std::string>{"ATXTB", "abc"}));
    }
    // Only the extension is renamed; y.TXT among the assist tables is left alone.
    EXPECT_TRUE(fs::exists(where_.userFolder / "abc.txt"));
    EXPECT_TRUE(fs::exists(where_.userFolder / "ATXTB.txt"));
    EXPECT_TRUE(fs::exists(where_.userFolder / "AssistCodes" / "y.TXT"));

    fs::remove(where_.userFolder / "abc.txt");
    fs::remove(where_.userFolder / "KeyMaps" / "小浪双拼.plist");
    page_->setUp();
    EXPECT_EQ(page_->mainTables(), std::vector<std::string>{"ATXTB"});
    EXPECT_TRUE(page_->schemes().empty());
}

TEST_F(CombinedSchemePageTest, OptionsSaveOneFieldAtATime) {
    page_->setUp();
    struct Case {
        const char* what;
        std::function<void()> act;
        std::function<bool(const ConfigManager&)> saved;
        size_t reloads;
    } cases[] = {
        {"gn2ng", [&] { page_->setCorrection(0, true); }, [](const ConfigManager& m) { return m.gn2ng; }, 1},
        {"iou2iu", [&] { page_->setCorrection(4, true); }, [](const ConfigManager& m) { return m.iou2iu; }, 1},
        {"empty code 1", [&] { page_->setEmptyCleanIndex(1); },
         [](const ConfigManager& m) { return m.emptyClean && !m.spaceClean; }, 2},
        {"empty code 2", [&] { page_->setEmptyCleanIndex(2); },
         [](const ConfigManager& m) { return !m.emptyClean && m.spaceClean; }, 2},
        {"empty code 0", [&] { page_->setEmptyCleanIndex(0); },
         [](const ConfigManager& m) { return !m.emptyClean && !m.spaceClean; }, 2},
        {"no empty-code item", [&] { page_->setEmptyCleanIndex(-1); },
         [](const ConfigManager& m) { return !m.emptyClean && !m.spaceClean; }, 0},
        {"empty slide", [&] { page_->setEmptySlide(false); }, [](const ConfigManager& m) { return !m.emptySlide; }, 1},
        {"reveal code", [&] { page_->setRevealCode(true); }, [](const ConfigManager& m) { return m.revealCode; }, 1},
        {"in user dict", [&] { page_->setCodetableInUserDict(true); },
         [](const ConfigManager& m) { return m.codetableInUserDict; }, 1},
        {"reveal assist", [&] { page_->setRevealAssist(true); }, [](const ConfigManager& m) { return m.revealAssist; },
         1},
        {"move back", [&] { page_->setMoveBack(false); }, [](const ConfigManager& m) { return !m.moveBack; }, 1},
        {"word first", [&] { page_->setWordFirst(false); }, [](const ConfigManager& m) { return !m.wordFirst; }, 1},
        {"commit rule", [&] { page_->setCommitRule(2); }, [](const ConfigManager& m) { return m.fourCode == 2; }, 2},
        {"code length 3", [&] { page_->setCodeLengthIndex(0); },
         [](const ConfigManager& m) { return m.codeLength == 3; }, 2},
        {"no code-length item", [&] { page_->setCodeLengthIndex(-1); },
         [](const ConfigManager& m) { return m.codeLength == 3; }, 0},
    };
    for (const auto& k : cases) {
        channel_->clear();
        k.act();
        EXPECT_TRUE(k.saved(saved())) << k.what;
        EXPECT_EQ(posted(), reloads(k.reloads)) << k.what;
    }
    // The new length retitles the rules and the chosen rule keeps its index.
    EXPECT_EQ(page_->commitRules(),
              (std::array<std::string, 5>{"空格上屏", "三码唯一上屏", "统一第四码顶", "空码顶字上屏", "空码直接上屏"}));
    EXPECT_EQ(c().upMethods.selected, 2);
    EXPECT_EQ(c().codeLength.selected, 0);
    EXPECT_EQ(c().emptyCleanMethod.selected, 0);
    EXPECT_TRUE(c().corrections[0].on && c().corrections[4].on);
}

TEST_F(CombinedSchemePageTest, MainTableOffResetsItsOptionsAndOnWritesNothing) {
    writeFile(where_.userFolder / "wubi.txt", "");
    config_->codeTableName = "wubi";
    config_->codeTableVersion = 1;
    config_->fourCode = 3;
    config_->revealCode = config_->emptySlide = config_->spaceClean = true;
    config_->emptyClean = config_->codetableInUserDict = true;
    config_->codeLength = 5;
    page_->setUp();
    const fs::path db = where_.perUserFolder / "mainCodeTable.database";
    writeFile(db, "kept");

    page_->setMainOn(false);
    std::vector<std::string> expected = reloads(6);
    expected.push_back("needsReloadDBLink");
    expected.push_back("configNeedsReload");
    EXPECT_EQ(posted(), expected);
    ConfigManager m = saved();
    EXPECT_EQ(m.codeTableName, "不使用主码表");
    EXPECT_EQ(m.fourCode, 0);
    EXPECT_EQ(m.codeTableVersion, -1);
    EXPECT_FALSE(m.revealCode || m.emptySlide || m.spaceClean);
    EXPECT_TRUE(m.emptyClean && m.codetableInUserDict);
    EXPECT_EQ(m.codeLength, 5);
    EXPECT_EQ(readFile(db), "kept");
    EXPECT_FALSE(c().mainCheckBox.on);
    for (bool enabled :
         {c().codetableInUserDict.enabled, c().codeLength.enabled, c().emptySlide.enabled, c().revealCode.enabled,
          c().emptyCleanMethod.enabled, c().mainSelector.enabled, c().upMethods.enabled})
        EXPECT_FALSE(enabled);
    EXPECT_FALSE(c().revealCode.on || c().emptySlide.on);
    EXPECT_EQ(c().upMethods.selected, 0);
    EXPECT_EQ(c().emptyCleanMethod.selected, 0);
    EXPECT_EQ(c().mainSelector.selected, -1);

    channel_->clear();
    page_->setMainOn(true);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(saved().codeTableName, "不使用主码表");
    EXPECT_TRUE(c().mainCheckBox.on);
    for (bool enabled :
         {c().codetableInUserDict.enabled, c().codeLength.enabled, c().emptySlide.enabled, c().revealCode.enabled,
          c().emptyCleanMethod.enabled, c().mainSelector.enabled, c().upMethods.enabled})
        EXPECT_TRUE(enabled);
    EXPECT_EQ(c().mainSelector.selected, -1);
}

TEST_F(CombinedSchemePageTest, AssistTableOffAndOn) {
    config_->assistPlanName = "形码";
    config_->assistCodePlan = 1;
    config_->revealAssist = true;
    page_->setUp();
    page_->setAssistOn(false);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload", "configNeedsReload",
                                                  "needsReloadDBLink"}));
    ConfigManager m = saved();
    EXPECT_EQ(m.assistPlanName, "不使用辅码");
    EXPECT_EQ(m.assistCodePlan, -1);
    EXPECT_FALSE(m.revealAssist);
    EXPECT_FALSE(c().assistCheckBox.on || c().revealAssist.on);
    for (bool enabled :
         {c().assistSelector.enabled, c().revealAssist.enabled, c().dupGoBack.enabled, c().wordFirst.enabled})
        EXPECT_FALSE(enabled);

    channel_->clear();
    page_->setAssistOn(true);
    EXPECT_TRUE(posted().empty());
    for (bool enabled :
         {c().assistSelector.enabled, c().revealAssist.enabled, c().dupGoBack.enabled, c().wordFirst.enabled})
        EXPECT_TRUE(enabled);
    EXPECT_EQ(c().assistSelector.selected, -1);
}

TEST_F(CombinedSchemePageTest, InputModeButtonsSaveTwiceAndReloadEvenWhenRepeated) {
    config_->disableDatabase = true;
    page_->setUp();
    struct Case {
        bool quanPin;
    } cases[] = {{false}, {true}, {true}};
    for (const auto& k : cases) {
        channel_->clear();
        k.quanPin ? page_->useQuanpin() : page_->useShuangpin();
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload", "needsReloadDBLink"}));
        ConfigManager m = saved();
        EXPECT_EQ(m.quanPin, k.quanPin);
        EXPECT_FALSE(m.disableDatabase);
        EXPECT_EQ(c().quanpinButton.on, k.quanPin);
        EXPECT_EQ(c().shuangpinButton.on, !k.quanPin);
        EXPECT_EQ(c().quanpinViewHidden, !k.quanPin);
        EXPECT_EQ(c().shuangpinViewHidden, k.quanPin);
    }
}

TEST_F(CombinedSchemePageTest, SchemeSwitchPutsTheFileInPlaceBeforeTheName) {
    writeFile(where_.userFolder / "KeyMaps" / "自然码.plist", "zrm");
    writeFile(where_.userFolder / "KeyMaps" / "小鹤.plist", "xh");
    page_->setUp();
    const fs::path target = where_.perUserFolder / "spScheme.plist";
    ASSERT_FALSE(fs::exists(target));
    for (const char* title : {"自然码", "自然码", "小鹤"}) {
        channel_->clear();
        EXPECT_TRUE(page_->selectScheme(title));
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "needReloadPlan"}));
        EXPECT_EQ(readFile(target), std::string(title) == "小鹤" ? "xh" : "zrm");
        EXPECT_EQ(saved().inputPlanName, title);
    }
    EXPECT_EQ(c().spSelector.selected, 0); // sorted: 小鹤 before 自然码

    // A scheme that is gone or a name that leaves the folder changes nothing.
    for (const char* title : {"gone", "../KeyMaps/自然码", "/etc/hosts"}) {
        channel_->clear();
        EXPECT_FALSE(page_->selectScheme(title)) << title;
        EXPECT_TRUE(posted().empty());
        EXPECT_EQ(readFile(target), "xh");
        EXPECT_EQ(saved().inputPlanName, "小鹤");
        EXPECT_EQ(c().spSelector.selected, 0);
    }
}

TEST_F(CombinedSchemePageTest, MainTableRebuildAndFailuresKeepTheLiveTable) {
    writeFile(where_.userFolder / "wubi.txt", "你\twq\n好\tvb\n");
    writeFile(where_.userFolder / "other.txt", "中\tk\n国\tl\n");
    std::string bad;
    for (int i = 0; i < 60; ++i)
        bad += "no tab here\n";
    writeFile(where_.userFolder / "damaged.txt", bad);
    page_->setUp();

    // No table in use yet: a failure turns the box off and disables the pop-up only.
    page_->setMainOn(true);
    channel_->clear();
    EXPECT_FALSE(chooseMain("gone"));
    EXPECT_EQ(posted(), kFullBracket);
    EXPECT_FALSE(c().mainCheckBox.on);
    EXPECT_FALSE(c().mainSelector.enabled);
    EXPECT_TRUE(c().upMethods.enabled && c().codeLength.enabled && c().revealCode.enabled);
    EXPECT_TRUE(sheet_->doneEnabled());
    EXPECT_FALSE(sheet_->dismissed());

    page_->setMainOn(true);
    channel_->clear();
    ASSERT_TRUE(chooseMain("wubi"));
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "configNeedsReload",
                                                  "configNeedsReload", "needsReloadDBLink", "okToUse=true"}));
    EXPECT_TRUE(sheet_->dismissed());
    EXPECT_EQ(saved().codeTableName, "wubi");
    EXPECT_EQ(saved().codeTableVersion, 1);
    EXPECT_EQ(mainRows(), (Rows{{"wq", "你"}, {"vb", "好"}}));
    EXPECT_EQ(c().mainSelector.selected, indexOf("wubi"));

    struct Failure {
        const char* what;
        std::string title;
        std::function<void()> before;
    } failures[] = {
        {"file removed", "gone", [] {}},
        {"damaged text", "damaged", [] {}},
        {"leaves the folder", "../wubi", [] {}},
        {"absolute", "/etc/passwd", [] {}},
        {"no template", "other", [&] { fs::remove(where_.resourceFolder / "codetable.database"); }},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.what);
        f.before();
        channel_->clear();
        EXPECT_FALSE(chooseMain(f.title));
        EXPECT_EQ(posted(), kFullBracket);
        EXPECT_EQ(mainRows(), (Rows{{"wq", "你"}, {"vb", "好"}}));
        EXPECT_EQ(saved().codeTableName, "wubi");
        EXPECT_EQ(saved().codeTableVersion, 1);
        // The page shows the table still in use; the sheet keeps its message.
        EXPECT_TRUE(c().mainCheckBox.on);
        EXPECT_TRUE(c().mainSelector.enabled);
        EXPECT_EQ(c().mainSelector.selected, indexOf("wubi"));
        EXPECT_TRUE(sheet_->doneEnabled());
        EXPECT_FALSE(sheet_->dismissed());
        EXPECT_FALSE(sheet_->text().empty());
        EXPECT_NE(sheet_->text(), "完成！");
    }
    // No temporary file is left beside the live table.
    for (const auto& entry : fs::directory_iterator(where_.perUserFolder))
        EXPECT_FALSE(plat::parseTemporaryName(entry.path().filename().string())) << entry.path();
}

TEST_F(CombinedSchemePageTest, AssistTableRebuildAndFailureKeepTheLiveTable) {
    writeFile(where_.userFolder / "AssistCodes" / "形码.txt", "阿\tab\n啊\tab\n");
    page_->setUp();
    page_->setAssistOn(true);
    ASSERT_TRUE(chooseAssist("形码"));
    EXPECT_TRUE(sheet_->dismissed());
    EXPECT_EQ(saved().assistPlanName, "形码");
    EXPECT_EQ(saved().assistCodePlan, 1);
    const fs::path db = where_.perUserFolder / "assist.database";
    EXPECT_EQ(query(db, "select count(*) from TableCode"), (Rows{{"2"}}));

    channel_->clear();
    EXPECT_FALSE(chooseAssist("../形码"));
    EXPECT_EQ(posted(), kFullBracket);
    EXPECT_EQ(query(db, "select count(*) from TableCode"), (Rows{{"2"}}));
    EXPECT_EQ(saved().assistCodePlan, 1);
    EXPECT_TRUE(c().assistCheckBox.on);
    EXPECT_TRUE(c().assistSelector.enabled);
    EXPECT_EQ(c().assistSelector.selected, 0);
    EXPECT_TRUE(sheet_->doneEnabled());
}

} // namespace
} // namespace kelvane
