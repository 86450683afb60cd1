#include "Settings/CodeTable/CodeTableChooser.h"

#include "Platform/Foundation/TemporaryFiles.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Settings/ConfigManager.h"
#include "Settings/DatabaseFile.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using kelvane::CodeTableChooser;
using kelvane::ConfigManager;
using kelvane::TableLocations;
using namespace kelvane::test;
namespace fs = std::filesystem;

class CodeTableChooserTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        const fs::path root = taviro::test::freshDir("chooser");
        where_ = {root / "TaviroMac", root / "塔维输入法", root / "resources"};
        fs::create_directories(where_.resourceFolder);
        makeMainTemplate(where_.resourceFolder / "codetable.database");
        makeAssistTemplate(where_.resourceFolder / "assist.database");
        config_ = std::make_unique<ConfigManager>(where_.perUserFolder);
    }

    // Runs the choice on the main queue and serves it until `done` has run.
    bool choose(bool assist, const std::string& title) {
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        int calls = 0;
        bool ok = false;
        plat::MainQueue::shared().async([&] {
            auto done = [&](bool result) {
                ++calls;
                ok = result;
            };
            if (assist)
                CodeTableChooser::selectAssistTable(*config_, where_, title, sink_, done);
            else
                CodeTableChooser::selectMainCodeTable(*config_, where_, title, sink_, done);
        });
        driver.runUntil([&] { return calls > 0; }, std::chrono::seconds(30));
        EXPECT_EQ(calls, 1);
        return ok;
    }

    TableLocations where_;
    std::unique_ptr<ConfigManager> config_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

const std::vector<std::string> kSuccess = {"okToUse=false",     "closeDatabase",     "configNeedsReload",
                                           "configNeedsReload", "needsReloadDBLink", "okToUse=true"};
// A failure saves nothing.
const std::vector<std::string> kFailure = kFullBracket;

TEST_F(CodeTableChooserTest, MainTableSuccessThenFailure) {
    writeFile(where_.userFolder / "wubi.txt", "你\twq\n好\tvb\n");
    ASSERT_TRUE(choose(false, "wubi"));
    EXPECT_EQ(posted(), kSuccess);
    EXPECT_EQ(config_->codeTableName, "wubi");
    EXPECT_EQ(config_->codeTableVersion, 1);
    const fs::path db = where_.perUserFolder / "mainCodeTable.database";
    EXPECT_EQ(query(db, "select Code from CodeTable order by rowid"), (Rows{{"wq"}, {"vb"}}));

    // The table's file is gone: the old database, its name and its version stay.
    channel_->clear();
    EXPECT_FALSE(choose(false, "deleted"));
    EXPECT_EQ(posted(), kFailure);
    EXPECT_EQ(config_->codeTableName, "wubi");
    EXPECT_EQ(config_->codeTableVersion, 1);
    EXPECT_EQ(query(db, "select count(*) from CodeTable"), (Rows{{"2"}}));
    ConfigManager reread(where_.perUserFolder);
    EXPECT_EQ(reread.codeTableName, "wubi");
    EXPECT_EQ(reread.codeTableVersion, 1);
}

// The table is built while the input method keeps its databases: every
// report of the build comes before the first command.
TEST_F(CodeTableChooserTest, TheBuildRunsBeforeTheBracket) {
    struct NotingSink : RecordingSink {
        std::function<std::size_t()> posts;
        std::vector<std::size_t> seen;
        void setStringValue(const std::string& text) override {
            seen.push_back(posts());
            RecordingSink::setStringValue(text);
        }
        void setMaxValue(double v) override {
            seen.push_back(posts());
            RecordingSink::setMaxValue(v);
        }
    };
    auto sink = std::make_shared<NotingSink>();
    sink->posts = [this] { return posted().size(); };
    sink_ = sink;
    writeFile(where_.userFolder / "wubi.txt", "你\twq\n好\tvb\n");
    ASSERT_TRUE(choose(false, "wubi"));
    EXPECT_EQ(posted(), kSuccess);
    ASSERT_GE(sink->seen.size(), 2u);
    EXPECT_EQ(sink->seen, std::vector<std::size_t>(sink->seen.size(), 0u));
}

TEST_F(CodeTableChooserTest, AssistTableFromItsFolder) {
    writeFile(where_.userFolder / "AssistCodes" / "sub" / "xm.txt", "阿\tab\n啊\tab\n");
    ASSERT_TRUE(choose(true, "sub/xm"));
    EXPECT_EQ(posted(), kSuccess);
    EXPECT_EQ(config_->assistPlanName, "sub/xm");
    EXPECT_EQ(config_->assistCodePlan, 1);
    EXPECT_EQ(query(where_.perUserFolder / "assist.database", "select * from CodeTable"), (Rows{{"ab", "阿啊", "0"}}));
}

TEST_F(CodeTableChooserTest, TitlesOutsideTheFolderFail) {
    writeFile(where_.userFolder.parent_path() / "outside.txt", "你\twq\n好\tvb\n");
    EXPECT_FALSE(choose(false, "../outside"));
    EXPECT_EQ(posted(), kFailure);
    EXPECT_EQ(sink_->events(), std::vector<std::string>{"文件名无效，无法导入。"});
    EXPECT_FALSE(fs::exists(where_.perUserFolder / "mainCodeTable.database"));
}

TEST_F(CodeTableChooserTest, StartRemovesWhatAKilledRebuildLeftOfEitherDatabase) {
    fs::create_directories(where_.perUserFolder);
    const auto rebuild = [](const char* target) {
        return plat::temporaryFileName(target, plat::TemporaryKind::Rebuild, "Killed");
    };
    const std::vector<std::string> stale = {rebuild("mainCodeTable.database"),
                                            rebuild("mainCodeTable.database") + "-journal", rebuild("assist.database")};
    for (const auto& name : stale) writeFile(where_.perUserFolder / name, "x");
    writeFile(where_.perUserFolder / "mainCodeTable.database", "live");
    kelvane::TemporaryDatabase running(where_.perUserFolder / "assist.database");
    ASSERT_TRUE(running.created());

    CodeTableChooser::removeStaleRebuilds(where_);
    for (const auto& name : stale) EXPECT_FALSE(fs::exists(where_.perUserFolder / name)) << name;
    EXPECT_TRUE(fs::exists(where_.perUserFolder / "mainCodeTable.database"));
    EXPECT_TRUE(fs::exists(running.path()));
}

} // namespace
