#include "Settings/Tables/ExtendedPage.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Settings/ConfigManager.h"
#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"
#include "Settings/Pages/PbarController.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using namespace kelvane::test;

const char* kLibrary = "你好\tni'hao\n中国人\tzhong'guo'ren\t5\n坏行\n";

class ExtendedPageTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        dir_ = taviro::test::freshDir("extendedpage");
        db_ = dir_ / "TaviroMac" / "extended.db";
        folder_ = dir_ / "塔维输入法" / "Extended";
        fs::create_directories(folder_);
        config_ = std::make_unique<ConfigManager>(dir_ / "TaviroMac");
        config_->extendedDict = true;
        page_ = makePage(true);
        channel_->clear();
    }

    std::unique_ptr<ExtendedPage> makePage(bool withSheet) {
        ExtendedPage::SheetFactory factory;
        if (withSheet)
            factory = [this] {
                sheets_.push_back(PbarController::make());
                return sheets_.back();
            };
        return std::make_unique<ExtendedPage>(*config_, db_, folder_, factory);
    }

    // Runs `action` on the main queue and serves it until the job's completion ran.
    bool runJob(const std::function<void(std::function<void(bool)>)>& action) {
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        int calls = 0;
        bool ok = false;
        plat::MainQueue::shared().async([&] {
            action([&](bool result) {
                ++calls;
                ok = result;
            });
        });
        driver.runUntil([&] { return calls > 0; }, std::chrono::seconds(30));
        EXPECT_EQ(calls, 1);
        return ok;
    }
    bool toggle(int row) {
        return runJob([&](auto done) { page_->toggleRow(row, done); });
    }
    // "-" on an imported library: serves the main queue until its sheet is gone.
    void removeLibrary(int row) {
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        const size_t before = sheets_.size();
        plat::MainQueue::shared().async([&] { page_->removeRow(row); });
        driver.runUntil([&] { return sheets_.size() > before && sheets_.back()->dismissed(); },
                        std::chrono::seconds(30));
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (int r = 0; r < page_->rowCount(); ++r)
            out.push_back((page_->imported(r) ? "[x] " : "[ ] ") + page_->name(r) + " " + page_->rowCountText(r));
        return out;
    }
    Rows words() { return query(db_, "select p1, p2, Word from w2 union all select p1, p2, Word from w3"); }

    fs::path dir_, db_, folder_;
    std::unique_ptr<ConfigManager> config_;
    std::vector<std::shared_ptr<PbarController>> sheets_;
    std::unique_ptr<ExtendedPage> page_;
};

TEST_F(ExtendedPageTest, ListsLibrariesTickedThenFilesNotImported) {
    ExtendedDatabasetManager(db_, folder_).insertCell("成语", 11, 1200);
    ExtendedDatabasetManager(db_, folder_).insertCell("诗词", 12, 3);
    // Names that would reach outside the folder are never listed, so never deleted.
    ExtendedDatabasetManager(db_, folder_).insertCell("../外面", 13, 1);
    ExtendedDatabasetManager(db_, folder_).insertCell((dir_ / "绝对").string(), 14, 1);
    writeFile(folder_ / "成语.txt", "x");    // imported: listed once, ticked
    writeFile(folder_ / "abc.TXT", "x");     // renamed to abc.txt
    writeFile(folder_ / "sub" / "deep.TXT", "x");
    writeFile(folder_ / "dup.TXT", "old");   // dup.txt exists: never replaced
    writeFile(folder_ / "dup.txt", "new");
    writeFile(folder_ / "notes.md", "x");
    writeFile(folder_ / ".txt", "x");        // no name
    channel_->clear();
    page_->reloadList();

    EXPECT_EQ(names(), (std::vector<std::string>{"[x] 诗词 3 条", "[x] 成语 1200 条", "[ ] abc -- 条",
                                                 "[ ] dup -- 条", "[ ] sub/deep -- 条"}));
    EXPECT_TRUE(fs::exists(folder_ / "abc.txt"));
    EXPECT_FALSE(fs::exists(folder_ / "abc.TXT"));
    EXPECT_TRUE(fs::exists(folder_ / "sub" / "deep.txt"));
    EXPECT_EQ(readFile(folder_ / "dup.TXT"), "old");
    EXPECT_EQ(readFile(folder_ / "dup.txt"), "new");
    EXPECT_EQ(page_->rowCountText(5), "");
    EXPECT_EQ(page_->name(-1), "");
    // Reading the list is enclosed in "okToUse" only.
    EXPECT_EQ(posted(), kOkToUseBracket);
}

TEST_F(ExtendedPageTest, WithTheOptionOffOrNoFolderTheListStaysAsItWas) {
    const fs::path outside = dir_ / "a.txt";
    writeFile(outside, kLibrary);
    config_->extendedDict = false;
    page_->addFiles({outside});
    EXPECT_TRUE(fs::exists(folder_ / "a.txt"));
    EXPECT_EQ(page_->rowCount(), 0);
    EXPECT_TRUE(posted().empty());

    config_->extendedDict = true;
    page_->reloadList();
    EXPECT_EQ(page_->dicts(), (std::vector<std::string>{"a"}));
    fs::remove_all(folder_);
    page_->reloadList();
    EXPECT_EQ(page_->dicts(), (std::vector<std::string>{"a"}));
}

TEST_F(ExtendedPageTest, PlusReplacesAFileOfTheSameNameButNeverLosesOne) {
    writeFile(folder_ / "a.txt", "old");
    writeFile(dir_ / "a.txt", "new");
    page_->addFiles({dir_ / "a.txt"});
    EXPECT_EQ(readFile(folder_ / "a.txt"), "new");

    // Choosing the folder's own file, or one that cannot be read, keeps what is there.
    page_->addFiles({folder_ / "a.txt", dir_ / "missing.txt"});
    EXPECT_EQ(readFile(folder_ / "a.txt"), "new");
    EXPECT_EQ(page_->dicts(), (std::vector<std::string>{"a"}));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder_)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, (std::vector<std::string>{"a.txt"}));
}

TEST_F(ExtendedPageTest, TickingImportsAndUntickingRemovesTheWordsButKeepsTheFile) {
    writeFile(folder_ / "lib.txt", kLibrary);
    page_->reloadList();
    channel_->clear();

    ASSERT_TRUE(toggle(0));
    EXPECT_EQ(names(), (std::vector<std::string>{"[x] lib 2 条"}));
    EXPECT_EQ(words(), (Rows{{"ni", "hao", "你好"}, {"zhong", "guo", "中国人"}}));
    ASSERT_EQ(sheets_.size(), 1u);
    EXPECT_TRUE(sheets_[0]->dismissed());
    EXPECT_EQ(sheets_[0]->text(), "完成！");

    ASSERT_TRUE(toggle(0));
    EXPECT_EQ(names(), (std::vector<std::string>{"[ ] lib -- 条"}));
    EXPECT_TRUE(words().empty());
    EXPECT_TRUE(fs::exists(folder_ / "lib.txt"));
    ASSERT_EQ(sheets_.size(), 2u);
    EXPECT_EQ(sheets_[1]->text(), ExtendedPage::kWorking);
    EXPECT_TRUE(sheets_[1]->dismissed());
    // extended.db is only ever enclosed in "okToUse" false and true.
    for (const auto& command : posted()) EXPECT_TRUE(command.rfind("okToUse=", 0) == 0) << command;
}

TEST_F(ExtendedPageTest, AFailedImportKeepsTheSheetWithItsReasonAndTheList) {
    struct Case {
        const char* bytes;
        const char* reason;
    } cases[] = {
        {"", "请确定编码为 uft-8 不要有 BOM!"},
        {"\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\t\x82\xa0'\x82\xa2\n\x82\xa9\x82\xab\t\x82\xa9'\x82\xab\n",
         "请确定编码为 uft-8 不要有 BOM!"},
    };
    for (const auto& c : cases) {
        writeFile(folder_ / "bad.txt", c.bytes);
        page_->reloadList();
        ASSERT_EQ(page_->dicts(), (std::vector<std::string>{"bad"}));
        // A file that appears meanwhile is not listed: a failure does not rescan.
        bool ok = runJob([&](auto done) {
            page_->toggleRow(0, done);
            writeFile(folder_ / "later.txt", kLibrary);
        });
        EXPECT_FALSE(ok);
        EXPECT_EQ(page_->dicts(), (std::vector<std::string>{"bad"}));
        ASSERT_FALSE(sheets_.empty());
        EXPECT_FALSE(sheets_.back()->dismissed());
        EXPECT_TRUE(sheets_.back()->doneEnabled());
        EXPECT_EQ(sheets_.back()->text(), c.reason);
        fs::remove(folder_ / "later.txt");
    }
    EXPECT_TRUE(query(db_, "select * from CellsInfo").empty());
}

TEST_F(ExtendedPageTest, MinusDeletesAFileAtOnceAndALibraryWithItsFile) {
    writeFile(folder_ / "keep.txt", kLibrary);
    writeFile(folder_ / "gone.txt", kLibrary);
    page_->reloadList();
    ASSERT_EQ(page_->dicts(), (std::vector<std::string>{"gone", "keep"}));
    ASSERT_TRUE(toggle(1));
    ASSERT_EQ(names(), (std::vector<std::string>{"[x] keep 2 条", "[ ] gone -- 条"}));
    const size_t sheets = sheets_.size();

    page_->removeRow(1);
    EXPECT_EQ(sheets_.size(), sheets);
    EXPECT_FALSE(fs::exists(folder_ / "gone.txt"));
    EXPECT_EQ(names(), (std::vector<std::string>{"[x] keep 2 条"}));

    removeLibrary(0);
    EXPECT_FALSE(fs::exists(folder_ / "keep.txt"));
    EXPECT_EQ(page_->rowCount(), 0);
    EXPECT_TRUE(words().empty());
    EXPECT_TRUE(query(db_, "select * from CellsInfo").empty());
    // The indexes stay through a removal.
    EXPECT_EQ(query(db_, "select count(*) from sqlite_master where type='index'"), (Rows{{"9"}}));

    page_->removeRow(-1);
    page_->removeRow(7);
}

TEST_F(ExtendedPageTest, WithoutASheetALibraryIsNeitherRemovedNorImported) {
    ExtendedDatabasetManager(db_, folder_).insertCell("lib", 5, 2);
    writeFile(folder_ / "lib.txt", kLibrary);
    writeFile(folder_ / "new.txt", kLibrary);
    page_ = makePage(false);
    page_->reloadList();
    ASSERT_EQ(names(), (std::vector<std::string>{"[x] lib 2 条", "[ ] new -- 条"}));
    page_->removeRow(0);
    page_->toggleRow(0);
    page_->toggleRow(1);
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    driver.runUntil([] { return !plat::MainQueue::shared().hasPendingBlocks(); }, std::chrono::seconds(5));
    page_->reloadList();
    EXPECT_EQ(names(), (std::vector<std::string>{"[x] lib 2 条", "[ ] new -- 条"}));
    EXPECT_TRUE(fs::exists(folder_ / "lib.txt"));
}

} // namespace
} // namespace kelvane
