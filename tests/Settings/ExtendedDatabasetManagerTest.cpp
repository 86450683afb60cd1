#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"

#include "ImportChildProcess.h"
#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <thread>

namespace {

using kelvane::CellDict;
using kelvane::ExtendedDatabasetManager;
using namespace kelvane::test;
namespace fs = std::filesystem;

class ExtendedTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        dir_ = taviro::test::freshDir("extended");
        db_ = dir_ / "TaviroMac" / "extended.db";
        library_ = dir_ / "Extended";
        manager_ = std::make_unique<ExtendedDatabasetManager>(db_, library_);
    }

    ImportRun importLibrary(const std::string& name, const std::optional<std::string>& bytes) {
        if (bytes) writeFile(library_ / (name + ".txt"), *bytes);
        sink_ = std::make_shared<RecordingSink>();
        return runImport([&](auto done) { manager_->importWordLibrary(name, sink_, done); });
    }

    Rows words(int n) { return query(db_, "select * from w" + std::to_string(n) + " order by rowid"); }
    std::string lastText() const { return sink_->events().back(); }

    fs::path dir_, db_, library_;
    std::unique_ptr<ExtendedDatabasetManager> manager_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

TEST_F(ExtendedTest, ConstructorBuildsTheSchemaInsideOkToUse) {
    EXPECT_EQ(posted(), kOkToUseBracket);
    const Rows tables = query(db_, "select name from sqlite_master where type='table' order by name");
    EXPECT_EQ(tables, (Rows{{"CellsInfo"}, {"w10"}, {"w2"}, {"w3"}, {"w4"}, {"w5"}, {"w6"}, {"w7"}, {"w8"}, {"w9"}}));
    EXPECT_EQ(query(db_, "select count(*) from sqlite_master where type='index'"), (Rows{{"9"}}));
    exec(db_, "insert into CellsInfo values ('a', 1, 2)");
    ExtendedDatabasetManager again(db_, library_);
    EXPECT_EQ(query(db_, "select * from CellsInfo"), (Rows{{"a", "1", "2"}}));
}

// The library is imported while the input method goes on reading the file:
// what the import reports on its way (a bad line here) comes before the
// bracket, which encloses only the commit.
TEST_F(ExtendedTest, AnImportIsBuiltBeforeItsBracket) {
    struct NotingSink : RecordingSink {
        std::function<std::vector<std::string>()> posts;
        std::vector<std::string> seen;
        void setStringValue(const std::string& text) override {
            seen.push_back(text + " after " + std::to_string(posts().size()));
            RecordingSink::setStringValue(text);
        }
    };
    auto sink = std::make_shared<NotingSink>();
    sink->posts = [this] { return posted(); };
    writeFile(library_ / "lib.txt", "你好\tni'hao\nbad\n再见\tzai'jian\n");
    channel_->clear();
    const auto run = runImport([&](auto done) { manager_->importWordLibrary("lib", sink, done); });
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(posted(), kOkToUseBracket);
    ASSERT_GE(sink->seen.size(), 3u);
    EXPECT_EQ(sink->seen.back(), "完成！ after 2");
    for (std::size_t i = 0; i + 1 < sink->seen.size(); ++i)
        EXPECT_NE(sink->seen[i].find(" after 0"), std::string::npos) << sink->seen[i];
    EXPECT_EQ(manager_->loadCells().at(0).rowCount, 2);
}

TEST_F(ExtendedTest, ListsLibrariesByDescendingName) {
    EXPECT_TRUE(manager_->loadCells().empty());
    EXPECT_EQ(manager_->findCell("a"), std::nullopt);
    manager_->insertCell("a", 1, 10);
    manager_->insertCell("c", 3, 30);
    manager_->insertCell("b", 2, 20);
    manager_->insertCell("../outside", 4, 1);
    manager_->insertCell("/abs", 5, 1);
    channel_->clear();
    EXPECT_EQ(manager_->loadCells(), (std::vector<CellDict>{{"c", 3, 30}, {"b", 2, 20}, {"a", 1, 10}}));
    EXPECT_EQ(manager_->findCell("b"), (CellDict{"b", 2, 20}));
    EXPECT_EQ(manager_->findCell("../outside"), std::nullopt);
    std::vector<std::string> thrice;
    for (int i = 0; i < 3; ++i) thrice.insert(thrice.end(), kOkToUseBracket.begin(), kOkToUseBracket.end());
    EXPECT_EQ(posted(), thrice);
}

TEST_F(ExtendedTest, DeleteRemovesOnlyThatLibraryAndRebuildsIndexes) {
    exec(db_,
         "insert into CellsInfo values ('a', 1, 2); insert into CellsInfo values ('b', 2, 1);"
         "insert into w2 values ('ni', 'hao', '你好', 1, 1); insert into w2 values ('ni', 'hao', '你好', 1, 2);"
         "insert into w3 values ('a', 'b', 'c', '啊吧吃', 1, 1);");
    channel_->clear();
    manager_->deleteCell(1);
    EXPECT_EQ(posted(), kOkToUseBracket);
    EXPECT_EQ(query(db_, "select CellID from w2"), (Rows{{"2"}}));
    EXPECT_TRUE(words(3).empty());
    EXPECT_EQ(query(db_, "select CellName from CellsInfo"), (Rows{{"b"}}));
    EXPECT_EQ(query(db_, "select count(*) from sqlite_master where type='index'"), (Rows{{"9"}}));
    manager_->deleteCell(42);  // nobody's id: nothing changes
    EXPECT_EQ(query(db_, "select count(*) from CellsInfo"), (Rows{{"1"}}));
}

TEST_F(ExtendedTest, ImportWritesOneRowPerGoodLine) {
    const std::string text =
        "甲乙\tjia'yi\n"
        "丙丁\tbing'ding\t12\n"
        "你好\tni'hao\n"              // line 3: weight 1000003
        "单\tdan\n"                   // no apostrophe: bad line
        "\n"                          // blank: bad line
        "你\tni'\n"                   // one syllable: skipped silently
        "你好\tni''hao\n"             // empty syllable dropped: w2
        "十字\ta'b'c'd'e'f'g'h'i'j'\n"  // ten syllables and a trailing apostrophe: w10
        "多\ta'b'c'd'e'f'g'h'i'j'k\n"   // eleven: skipped silently
        "引号\tq\"uote'x\n";          // a double quote is plain text
    const auto run = importLibrary("lib", text);
    ASSERT_EQ(run.completions, 1);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(lastText(), "完成！");

    const auto cells = manager_->loadCells();
    ASSERT_EQ(cells.size(), 1u);
    const std::string id = std::to_string(cells[0].id);
    EXPECT_EQ(cells[0].name, "lib");
    EXPECT_EQ(cells[0].rowCount, 6);  // rows actually inserted
    EXPECT_GE(cells[0].id, 0);
    EXPECT_LT(cells[0].id, ExtendedDatabasetManager::kIdLimit);
    EXPECT_EQ(words(2), (Rows{{"jia", "yi", "甲乙", "1000001.0", id},
                              {"bing", "ding", "丙丁", "12.0", id},
                              {"ni", "hao", "你好", "1000003.0", id},
                              {"ni", "hao", "你好", "1000007.0", id},
                              {"q\"uote", "x", "引号", "1000010.0", id}}));
    EXPECT_EQ(words(10), (Rows{{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "十字", "1000008.0", id}}));
    const auto events = sink_->events();
    EXPECT_NE(std::find(events.begin(), events.end(), "第4行格式错误，跳过...\n\"单\tdan\""), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "第5行格式错误，跳过...\n\"\""), events.end());
    EXPECT_EQ(events[2], "max=5");  // half the line count
    EXPECT_DOUBLE_EQ(sink_->progress(), 6);
    EXPECT_EQ(query(db_, "select count(*) from sqlite_master where type='index'"), (Rows{{"9"}}));
    EXPECT_TRUE(sink_->mainThreadOnly());
}

TEST_F(ExtendedTest, ImportDecodesOtherEncodings) {
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"你好\tni'hao\n再见\tzai'jian")) {
        utf16.push_back(static_cast<char>(c & 0xFF));
        utf16.push_back(static_cast<char>(c >> 8));
    }
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"utf8", "你好\tni'hao\n再见\tzai'jian\n"},
        {"utf8_bom_crlf", "\xEF\xBB\xBF你好\tni'hao\r\n再见\tzai'jian\r\n"},
        {"utf16le_bom", utf16},
        {"gb18030", "\xC4\xE3\xBA\xC3\tni'hao\n\xD4\xD9\xBC\xFB\tzai'jian\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(importLibrary(c.name, c.bytes).ok);
        const int64_t id = manager_->findCell(c.name)->id;
        EXPECT_EQ(query(db_, "select p1, Word from w2 where CellID=" + std::to_string(id) + " order by rowid"),
                  (Rows{{"ni", "你好"}, {"zai", "再见"}}));
    }
}

TEST_F(ExtendedTest, SixHundredThousandLinesAreAccepted) {
    // Lines of one syllable count towards the size but are skipped without a message.
    std::string t = "你好\tni'hao\n";
    for (int i = 1; i < 600000; ++i) t += "a\tb'\n";
    const auto run = importLibrary("big", t);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(manager_->findCell("big")->rowCount, 1);
}

TEST_F(ExtendedTest, RefusalsKeepTheEarlierLibrary) {
    ASSERT_TRUE(importLibrary("lib", "你好\tni'hao\n再见\tzai'jian\n").ok);
    const CellDict old = manager_->loadCells().at(0);

    struct Case {
        const char* name;
        std::optional<std::string> bytes;
        const char* text;
    };
    const Case cases[] = {
        {"one_line", std::string("你好\tni'hao\n"), "请确定编码为 uft-8 不要有 BOM!"},
        {"undecodable", std::string("\x80\xFF\n\xFF\xFE\xFD\n", 7), "请确定编码为 uft-8 不要有 BOM!"},
        {"too_many_bad_lines", [] {
             std::string t = "你好\tni'hao\n";
             for (int i = 0; i < 50001; ++i) t += "x\n";
             return t;
         }(), "错误行数太多，请修正！"},
        {"too_large", [] {
             std::string t;
             for (int i = 0; i < 600001; ++i) t += "a\tb'c\n";
             return t;
         }(), "单个词库过大，请拆分后导入。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel_->clear();
        const auto run = importLibrary("lib", c.bytes);
        EXPECT_EQ(run.completions, 1);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(lastText(), c.text);
        EXPECT_EQ(manager_->loadCells(), std::vector<CellDict>{old});
        EXPECT_EQ(query(db_, "select count(*) from w2"), (Rows{{"2"}}));
        const auto log = posted();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), "okToUse=true");
        EXPECT_EQ(std::count(log.begin(), log.end(), "okToUse=false"),
                  std::count(log.begin(), log.end(), "okToUse=true"));
    }
}

TEST_F(ExtendedTest, FiftyThousandBadLinesAreTolerated) {
    std::string t = "你好\tni'hao\n";
    for (int i = 0; i < 50000; ++i) t += "x\n";
    const auto run = importLibrary("lib", t);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(manager_->loadCells().at(0).rowCount, 1);
}

TEST_F(ExtendedTest, ReimportReplacesTheOldLibraryWithANewId) {
    exec(db_, "insert into CellsInfo values ('other', 7, 1); insert into w2 values ('o', 't', '他', 1, 7)");
    ASSERT_TRUE(importLibrary("lib", "你好\tni'hao\n再见\tzai'jian\n").ok);
    const int64_t firstId = manager_->findCell("lib")->id;
    channel_->clear();
    ASSERT_TRUE(importLibrary("lib", "早上\tzao'shang\n晚上\twan'shang\n中午\tzhong'wu\n").ok);
    // The look-up of the old library is part of the import, inside its one "okToUse".
    EXPECT_EQ(posted(), kOkToUseBracket);
    const auto cell = manager_->findCell("lib");
    ASSERT_TRUE(cell);
    EXPECT_NE(cell->id, firstId);
    EXPECT_NE(cell->id, 7);
    EXPECT_EQ(cell->rowCount, 3);
    EXPECT_EQ(query(db_, "select count(*) from w2 where CellID=" + std::to_string(firstId)), (Rows{{"0"}}));
    EXPECT_EQ(query(db_, "select count(*) from w2 where CellID=7"), (Rows{{"1"}}));
    EXPECT_EQ(query(db_, "select count(*) from CellsInfo"), (Rows{{"2"}}));
}

TEST_F(ExtendedTest, NamesOutsideTheFolderAreRefused) {
    writeFile(dir_ / "secret.txt", "你好\tni'hao\n再见\tzai'jian\n");
    for (const std::string& name : std::vector<std::string>{"../secret", (dir_ / "secret").string(), ""}) {
        SCOPED_TRACE(name);
        const auto run = importLibrary(name, std::nullopt);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(lastText(), "文件名无效，无法导入。");
    }
    EXPECT_TRUE(manager_->loadCells().empty());
    EXPECT_EQ(manager_->libraryPath("sub/abc"), library_ / "sub/abc.txt");
    EXPECT_EQ(manager_->libraryPath("../abc"), std::nullopt);
}

TEST_F(ExtendedTest, CalledOnTheMainThreadItRefusesWithoutWaiting) {
    writeFile(library_ / "lib.txt", "你好\tni'hao\n再见\tzai'jian\n");
    const auto run = runImportOnMainQueue([&](auto done) { manager_->importWordLibrary("lib", sink_, done); });
    EXPECT_EQ(run.completions, 1);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(sink_->events(), std::vector<std::string>{"导入未能开始。"});
    EXPECT_TRUE(manager_->loadCells().empty());
}

std::string fixture(const char* name) {
    return readFile(fs::path(TAVIRO_TEST_DATA_DIR).parent_path().parent_path() / "Platform/Text/data" / name);
}

TEST_F(ExtendedTest, OtherLanguagesAndHugeFilesAreRefusedWithAReason) {
    ASSERT_TRUE(importLibrary("lib", "你好\tni'hao\n再见\tzai'jian\n").ok);
    const auto before = manager_->loadCells();
    struct Case {
        const char* name;
        std::string bytes;
        const char* text;
    };
    const Case cases[] = {
        {"shift_jis", fixture("japanese-shift_jis.txt"), "请确定编码为 uft-8 不要有 BOM!"},
        {"euc_kr", fixture("korean-euc-kr.txt"), "请确定编码为 uft-8 不要有 BOM!"},
        {"huge", "", "单个词库过大，请拆分后导入。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(std::string(c.name) == "huge" || !c.bytes.empty());
        writeFile(library_ / "lib.txt", c.bytes);
        // A sparse gigabyte: refused by its size, before it is read.
        if (c.bytes.empty()) fs::resize_file(library_ / "lib.txt", std::uintmax_t{1} << 30);
        const auto run = importLibrary("lib", std::nullopt);
        EXPECT_EQ(run.completions, 1);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(lastText(), c.text);
        EXPECT_EQ(manager_->loadCells(), before);
    }
}

TEST_F(ExtendedTest, RealTablesInChineseEncodingsImport) {
    // Big5 cangjie with a bracketed digit that decodes to private use.
    writeFile(library_ / "big5.txt",
              "\xA4\xA4\xB0\xEA\tzhong'guo\n\xBB" "O\xC6W\ttai'wan\n\xBE\xC7\xB2\xDF\txue'xi\n"
              "\xB9q\xB8\xA3\tdian'nao\n\xC7\xF3\tkuo'hao\n");
    const auto run = importLibrary("big5", std::nullopt);
    ASSERT_TRUE(run.ok) << lastText();
    EXPECT_EQ(query(db_, "select Word from w2 order by rowid"),
              (Rows{{"中國"}, {"臺灣"}, {"學習"}, {"電腦"}, {"\uF7A0"}}));
}

TEST_F(ExtendedTest, TwoImportsOfOneNameStartedTogetherLeaveOneLibrary) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "词" + std::to_string(i) + "\tci'yu\n";
    writeFile(library_ / "lib.txt", text);
    // Two pages (two managers) start the same import at the same moment.
    ExtendedDatabasetManager second(db_, library_);
    std::atomic<int> completions{0}, succeeded{0};
    plat::RunLoopDriver driver(plat::MainQueue::shared());
    auto start = [&](ExtendedDatabasetManager& m) {
        return std::thread([&] {
            m.importWordLibrary("lib", nullptr, [&](bool ok) {
                ++completions;
                if (ok) ++succeeded;
            });
        });
    };
    std::thread a = start(*manager_), b = start(second);
    driver.runUntil([&] { return completions == 2; }, std::chrono::seconds(120));
    a.join();
    b.join();
    EXPECT_EQ(succeeded, 2);
    const auto cells = manager_->loadCells();
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].rowCount, 20000);
    EXPECT_EQ(query(db_, "select count(*), count(distinct CellID) from w2"), (Rows{{"20000", "1"}}));
}

// An import of `lines` good lines and one bad line at the end, where the helper program
// holds it (inside its transaction) until it is resumed or killed.
std::string heldLibrary(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "新词" + std::to_string(i) + "\txin'ci\n";
    return text + "bad line\n";
}

TEST_F(ExtendedTest, AKilledImportLeavesTheIndexesAndTheOldLibrary) {
    ASSERT_TRUE(importLibrary("lib", "你好\tni'hao\n再见\tzai'jian\n").ok);
    const auto before = manager_->loadCells();
    writeFile(library_ / "lib.txt", heldLibrary(5000));

    ImportChild child({"word", db_.string(), library_.string(), "lib"});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitFor("MIDWAY")) << child.output();

    // While the import is held, a reader like the input method's does not wait for it.
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db_.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(reader, 0);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(reader, "select Word from w2 where p1='ni' and p2='hao'", -1, &st, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
    sqlite3_finalize(st);
    sqlite3_close(reader);

    child.killNow();
    EXPECT_NE(child.wait(), -1);
    EXPECT_EQ(query(db_, "select count(*) from sqlite_master where type='index'"), (Rows{{"9"}}));
    EXPECT_EQ(query(db_, "pragma integrity_check"), (Rows{{"ok"}}));
    ExtendedDatabasetManager after(db_, library_);
    EXPECT_EQ(after.loadCells(), before);
    EXPECT_EQ(query(db_, "select count(*) from w2"), (Rows{{"2"}}));
}

TEST_F(ExtendedTest, ImportsOfOneNameInTwoProgramsLeaveOneLibrary) {
    writeFile(library_ / "lib.txt", heldLibrary(3000));
    ImportChild child({"word", db_.string(), library_.string(), "lib"});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitFor("MIDWAY")) << child.output();
    // This program's import starts while the other one holds its transaction; it waits
    // for it and then replaces what it wrote.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        child.resume();
    });
    const auto run = importLibrary("lib", std::nullopt);
    release.join();
    EXPECT_TRUE(child.waitFor("DONE 1")) << child.output();
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(run.ok) << lastText();
    const auto cells = manager_->loadCells();
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(query(db_, "select count(*), count(distinct CellID) from w2"), (Rows{{"3000", "1"}}));
}

TEST_F(ExtendedTest, MissingIndexesComeBackWithTheNextImport) {
    exec(db_, "DROP INDEX w2_index; DROP INDEX w7_index;");
    ASSERT_TRUE(importLibrary("lib", "你好\tni'hao\n再见\tzai'jian\n").ok);
    EXPECT_EQ(query(db_, "select count(*) from sqlite_master where type='index'"), (Rows{{"9"}}));
}

} // namespace
