#include "Settings/CodeTable/CodeTableImporter.h"

#include "ImportChildProcess.h"
#include "ImportTestSupport.h"
#include "Settings/DatabaseFile.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

using kelvane::CodeTableImporter;
using namespace kelvane::test;
namespace fs = std::filesystem;

const char* kAnalysing = "分析码表文件";
const char* kImporting = "导入中...";
const char* kDone = "完成！";
const char* kAskUtf8 = "请确定编码为 uft-8 不要有 BOM!";
const char* kTooMany = "错误行数太多，请修正！";

class CodeTableImporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = taviro::test::freshDir("codetable");
        db_ = dir_ / "mainCodeTable.database";
        text_ = dir_ / "table.txt";
    }

    ImportRun import(const std::string& bytes, bool assist) {
        writeFile(text_, bytes);
        if (!fs::exists(db_)) assist ? makeAssistTemplate(db_) : makeMainTemplate(db_);
        return runImport([&](auto done) { CodeTableImporter::importFile(text_, db_, assist, sink_, done); });
    }

    fs::path dir_, db_, text_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

TEST_F(CodeTableImporterTest, MainFormRows) {
    struct Case {
        const char* name;
        std::string text;
        Rows rows;  // Code, Table, Weight in insertion order
    };
    const Case cases[] = {
        {"counter_weight", "一\ta\n二\tb\n你\twq\n", {{"a", "一", "1000001"}, {"b", "二", "1000002"}, {"wq", "你", "1000003"}}},
        {"given_weight", "你\twq\t12\n好\thao\n", {{"wq", "你", "12"}, {"hao", "好", "1000002"}}},
        {"empty_weight", "你\twq\t\n好\thao\n", {{"wq", "你", ""}, {"hao", "好", "1000002"}}},
        {"bad_lines_skipped_but_counted", "a\tb\tc\td\n\tx\ny\t\n\n好\thao\n", {{"hao", "好", "1000005"}}},
        {"crlf_and_bom", "\xEF\xBB\xBF你\twq\r\n好\thao\r\n", {{"wq", "你", "1000001"}, {"hao", "好", "1000002"}}},
        {"utf16le", std::string("\xFF\xFE\x60\x4F\x09\x00\x61\x00\x0A\x00\x7D\x59\x09\x00\x62\x00", 16),
         {{"a", "你", "1000001"}, {"b", "好", "1000002"}}},
        {"gb18030", "\xC4\xE3\twq\n\xBA\xC3\thao\n", {{"wq", "你", "1000001"}, {"hao", "好", "1000002"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(db_);
        sink_ = std::make_shared<RecordingSink>();
        const auto run = import(c.text, false);
        EXPECT_EQ(run.completions, 1);
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(query(db_, "select Code, \"Table\", Weight from CodeTable order by rowid"), c.rows);
        EXPECT_EQ(sink_->events().back(), kDone);
        EXPECT_DOUBLE_EQ(sink_->progress(), static_cast<double>(c.rows.size()));  // good lines only
        EXPECT_TRUE(sink_->mainThreadOnly());
    }
}

TEST_F(CodeTableImporterTest, StatusTextsOfASuccessfulImport) {
    import("你\twq\n\n好\thao\n", false);
    EXPECT_EQ(sink_->events(), (std::vector<std::string>{"value=0", kAnalysing, "max=3", kImporting,
                                                         "第2行格式错误，跳过...\n\"\"", kDone}));
}

TEST_F(CodeTableImporterTest, RefusedFilesLeaveTheDatabaseAsItWas) {
    struct Case {
        const char* name;
        std::optional<std::string> text;  // none: no file
    };
    const Case cases[] = {{"one_line", std::string("你\twq\n")},
                          {"empty", std::string()},
                          {"invalid_bytes", std::string("abc\x80\xFF\n\xFF\xFE\xFD\n", 10)},
                          {"missing", std::nullopt}};
    makeMainTemplate(db_);
    exec(db_, "insert into CodeTable values ('old', '旧', '1')");
    const std::string before = readFile(db_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sink_ = std::make_shared<RecordingSink>();
        fs::remove(text_);
        if (c.text) writeFile(text_, *c.text);
        const auto run = runImport([&](auto done) { CodeTableImporter::importFile(text_, db_, false, sink_, done); });
        EXPECT_EQ(run.completions, 1);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(sink_->events(),
                  (std::vector<std::string>{"value=0", kAnalysing, "码表编码格式错误", kAskUtf8}));
        EXPECT_EQ(readFile(db_), before);
    }
    // No temporary file is left behind: only the database remains (the last text was missing).
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

std::string linesOf(int bad, const std::string& goodLine) {
    std::string text = goodLine + "\n";
    for (int i = 0; i < bad; ++i) text += "only-one-field\n";
    return text + goodLine + "\n";
}

TEST_F(CodeTableImporterTest, BadLineLimit) {
    for (bool assist : {false, true}) {
        SCOPED_TRACE(assist ? "assist" : "main");
        fs::remove(db_);
        sink_ = std::make_shared<RecordingSink>();
        auto run = import(linesOf(50, "好\thao"), assist);
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(sink_->events().back(), kDone);
        EXPECT_EQ(query(db_, "select count(*) from CodeTable"), (Rows{{assist ? "1" : "2"}}));

        fs::remove(db_);
        sink_ = std::make_shared<RecordingSink>();
        run = import(linesOf(51, "好\thao"), assist);
        EXPECT_EQ(run.completions, 1);
        EXPECT_FALSE(run.ok);
        const auto events = sink_->events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2], "第52行格式错误，跳过...\n\"only-one-field\"");
        EXPECT_EQ(events.back(), kTooMany);
        // Stopped: nothing of it is kept.
        EXPECT_EQ(query(db_, "select count(*) from CodeTable"), (Rows{{"0"}}));
    }
}

TEST_F(CodeTableImporterTest, AllLinesBadButUnderTheLimitStillFinishes) {
    const auto run = import("x\ny\n", false);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(sink_->events().back(), kDone);
    EXPECT_TRUE(query(db_, "select * from CodeTable").empty());
}

TEST_F(CodeTableImporterTest, AssistFormTables) {
    struct Case {
        const char* name;
        std::string text;
        Rows codeTable;  // sorted by code
        Rows tableCode;  // sorted by word
    };
    const Case cases[] = {
        {"shared_code", "阿\tab\n啊\tab\n", {{"ab", "阿啊", "0"}}, {{"啊", "ab", "0"}, {"阿", "ab", "0"}}},
        {"three_letter_code", "阿\tabc\n啊\tab\n", {{"ab", "啊", "0"}, {"abc", "阿", "0"}}, {{"啊", "ab", "0"}}},
        {"first_two_letter_code_wins", "阿\tab\n阿\tcd\n", {{"ab", "阿", "0"}, {"cd", "阿", "0"}},
         {{"阿", "ab", "0"}}},
        {"repeated_line", "阿\tab\n阿\tab\n", {{"ab", "阿阿", "0"}}, {{"阿", "ab", "0"}}},
        {"two_characters_not_bytes", "阿\t啊啊\n啊\tx\n", {{"x", "啊", "0"}, {"啊啊", "阿", "0"}},
         {{"阿", "啊啊", "0"}}},
        {"three_fields_bad", "阿\tab\t1\n啊\tcd\n", {{"cd", "啊", "0"}}, {{"啊", "cd", "0"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(db_);
        sink_ = std::make_shared<RecordingSink>();
        const auto run = import(c.text, true);
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(query(db_, "select * from CodeTable order by Code"), c.codeTable);
        EXPECT_EQ(query(db_, "select * from TableCode order by \"Table\""), c.tableCode);
    }
}

TEST_F(CodeTableImporterTest, AssistProgressFillsThenOverruns) {
    import("阿\tab\n啊\tab\n吧\tx\n", true);
    // 3 lines in the first pass, then 0.5 per TableCode row (2) and per code (2).
    EXPECT_DOUBLE_EQ(sink_->progress(), 3 + 0.5 * 2 + 0.5 * 2);
    EXPECT_EQ(sink_->events()[2], "max=3");
}

TEST_F(CodeTableImporterTest, RebuildReplacesOnlyOnSuccess) {
    const fs::path tmpl = dir_ / "codetable.database";
    makeMainTemplate(tmpl);
    makeMainTemplate(db_);
    exec(db_, "insert into CodeTable values ('old', '旧', '1')");
    writeFile(fs::path(db_.string() + "-journal"), "stale");
    writeFile(fs::path(db_.string() + "-wal"), "stale");

    // A stopped rebuild keeps the old table.
    writeFile(text_, linesOf(51, "好\thao"));
    auto run = runImport([&](auto done) { CodeTableImporter::rebuildDatabase(tmpl, text_, db_, false, sink_, done); });
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(query(db_, "select Code from CodeTable"), (Rows{{"old"}}));

    // A finished one puts the new table in place and drops the stale companions.
    writeFile(text_, "你\twq\n好\thao\n");
    run = runImport([&](auto done) { CodeTableImporter::rebuildDatabase(tmpl, text_, db_, false, sink_, done); });
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(query(db_, "select Code from CodeTable order by rowid"), (Rows{{"wq"}, {"hao"}}));
    EXPECT_FALSE(fs::exists(db_.string() + "-journal"));
    EXPECT_FALSE(fs::exists(db_.string() + "-wal"));
    EXPECT_EQ(query(tmpl, "select count(*) from CodeTable"), (Rows{{"0"}}));  // template untouched

    // A missing template fails without touching the database.
    run = runImport([&](auto done) {
        CodeTableImporter::rebuildDatabase(dir_ / "absent.database", text_, db_, false, sink_, done);
    });
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(query(db_, "select count(*) from CodeTable"), (Rows{{"2"}}));
}

TEST_F(CodeTableImporterTest, CalledOnTheMainThreadItRefusesWithoutWaiting) {
    makeMainTemplate(db_);
    writeFile(text_, "你\twq\n好\thao\n");
    const auto run = runImportOnMainQueue(
        [&](auto done) { CodeTableImporter::importFile(text_, db_, false, sink_, done); });
    EXPECT_EQ(run.completions, 1);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(sink_->events(), std::vector<std::string>{"导入未能开始。"});
    EXPECT_TRUE(query(db_, "select * from CodeTable").empty());
}

std::string fixture(const char* name) {
    return readFile(fs::path(TAVIRO_TEST_DATA_DIR).parent_path().parent_path() / "Platform/Text/data" / name);
}

TEST_F(CodeTableImporterTest, RealTablesWithPrivateUseCharactersImport) {
    struct Case {
        const char* file;
        size_t rows;
        const char* puaWord;  // the private-use line's word, as stored
    };
    const Case cases[] = {{"wubi86-gb18030.txt", 11, "\uE81D"},
                          {"wubi86-utf16le-nobom.txt", 11, "\uE81D"},
                          {"gbk-user-defined.txt", 9, "\uE000"},
                          {"cangjie5-big5.txt", 9, "\uF7A0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        fs::remove(db_);
        sink_ = std::make_shared<RecordingSink>();
        const auto run = import(fixture(c.file), false);
        EXPECT_TRUE(run.ok) << sink_->events().back();
        EXPECT_EQ(query(db_, "select count(*) from CodeTable"), (Rows{{std::to_string(c.rows)}}));
        EXPECT_EQ(query(db_, std::string("select count(*) from CodeTable where \"Table\"='") + c.puaWord + "'"),
                  (Rows{{"1"}}));
    }
}

TEST_F(CodeTableImporterTest, RefusalsSayWhy) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::vector<std::string> tail;  // the last texts on the sheet
    };
    const Case cases[] = {
        {"shift_jis", [&] { writeFile(text_, fixture("japanese-shift_jis.txt")); },
         {"码表编码格式错误", kAskUtf8}},
        {"euc_kr", [&] { writeFile(text_, fixture("korean-euc-kr.txt")); }, {"码表编码格式错误", kAskUtf8}},
        {"sparse_gigabyte",
         [&] {
             writeFile(text_, "");
             fs::resize_file(text_, std::uintmax_t{1} << 30);
         },
         {kAnalysing, "码表文件过大，无法导入。"}},
    };
    makeMainTemplate(db_);
    const std::string before = readFile(db_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sink_ = std::make_shared<RecordingSink>();
        c.prepare();
        const auto run = runImport([&](auto done) { CodeTableImporter::importFile(text_, db_, false, sink_, done); });
        EXPECT_EQ(run.completions, 1);
        EXPECT_FALSE(run.ok);
        const auto events = sink_->events();
        ASSERT_GE(events.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::string>(events.end() - static_cast<long>(c.tail.size()), events.end()), c.tail);
        EXPECT_EQ(readFile(db_), before);
    }
}

TEST_F(CodeTableImporterTest, ImportIntoAFileThatIsNoCodeTableFails) {
    writeFile(text_, "你\twq\n好\thao\n");
    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"text_file", [&] { writeFile(db_, "just some text, not a database\n"); }},
        {"empty_file", [&] { writeFile(db_, ""); }},
        {"database_without_the_table", [&] { exec(db_, "CREATE TABLE Other (a);"); }},
        {"assist_form_without_TableCode", [&] { makeMainTemplate(db_); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(db_);
        c.make();
        const std::string before = readFile(db_);
        sink_ = std::make_shared<RecordingSink>();
        const bool assist = std::string(c.name).rfind("assist", 0) == 0;
        const auto run =
            runImport([&](auto done) { CodeTableImporter::importFile(text_, db_, assist, sink_, done); });
        EXPECT_EQ(run.completions, 1);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(sink_->events().back(), "数据库文件无效，无法导入。");
        EXPECT_EQ(readFile(db_), before);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);  // no temporaries
}

TEST_F(CodeTableImporterTest, AKilledRebuildsTemporariesGoAtTheNextRebuild) {
    const fs::path tmpl = dir_ / "codetable.database";
    makeMainTemplate(tmpl);
    makeMainTemplate(db_);
    exec(db_, "insert into CodeTable values ('old', '旧', '1')");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "词\tc" + std::to_string(i) + "\n";
    writeFile(text_, text + "bad line\n");

    const auto temporaries = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            const auto t = plat::parseTemporaryName(name);
            if (t && t->kind == plat::TemporaryKind::Rebuild && t->target == "mainCodeTable.database")
                names.push_back(name);
        }
        return names;
    };
    {
        ImportChild child({"rebuild", tmpl.string(), text_.string(), db_.string()});
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(child.waitFor("MIDWAY")) << child.output();
        // While it runs, a rebuild elsewhere leaves its temporary alone.
        kelvane::DatabaseFile::removeStaleTemporaries(db_);
        EXPECT_FALSE(temporaries().empty());
        child.killNow();
        EXPECT_NE(child.wait(), -1);
    }
    EXPECT_FALSE(temporaries().empty());  // left behind by the killed program
    EXPECT_EQ(query(db_, "select Code from CodeTable"), (Rows{{"old"}}));

    writeFile(text_, "你\twq\n好\thao\n");
    const auto run =
        runImport([&](auto done) { CodeTableImporter::rebuildDatabase(tmpl, text_, db_, false, sink_, done); });
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EQ(query(db_, "select Code from CodeTable order by rowid"), (Rows{{"wq"}, {"hao"}}));
}

TEST(DatabaseFileTest, StaleTemporariesGoHeldOnesStay) {
    const auto dir = taviro::test::freshDir("stale");
    const fs::path target = dir / "assist.database";
    const auto rebuild = [](const char* target, const char* suffix, const char* companion = "") {
        return plat::temporaryFileName(target, plat::TemporaryKind::Rebuild, suffix) + companion;
    };
    for (const std::string& name :
         {rebuild("assist.database", "abc123"), rebuild("assist.database", "abc123", "-journal"),
          rebuild("assist.database", "def456", "-wal"), rebuild("assist.database", "def456", "-shm"),
          std::string("assist.database"), std::string("assist.database-journal"), rebuild("other.database", "abc123"),
          // An earlier version's name, which a user's file may have too.
          std::string("assist.database.new-1-0")})
        writeFile(dir / name, "x");
    kelvane::TemporaryDatabase held(target);
    ASSERT_TRUE(held.created());
    const auto name = plat::parseTemporaryName(held.path().filename().string());
    EXPECT_TRUE(name && name->kind == plat::TemporaryKind::Rebuild && name->target == "assist.database")
        << held.path();
    writeFile(fs::path(held.path().string() + "-journal"), "live");
    kelvane::DatabaseFile::removeStaleTemporaries(target);
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"assist.database", "assist.database-journal", rebuild("other.database", "abc123"),
                                           "assist.database.new-1-0",
                                           held.path().filename().string(),
                                           held.path().filename().string() + "-journal"}));
}

TEST(DatabaseFileTest, SQLiteHeader) {
    const auto dir = taviro::test::freshDir("header");
    makeMainTemplate(dir / "ok.db");
    writeFile(dir / "text.db", "SQLite format 2 but not really");
    writeFile(dir / "short.db", "SQLite");
    EXPECT_TRUE(kelvane::DatabaseFile::hasSQLiteHeader(dir / "ok.db"));
    EXPECT_TRUE(kelvane::DatabaseFile::check(dir / "ok.db"));
    for (const char* name : {"text.db", "short.db", "absent.db"}) {
        EXPECT_FALSE(kelvane::DatabaseFile::hasSQLiteHeader(dir / name)) << name;
        EXPECT_FALSE(kelvane::DatabaseFile::check(dir / name)) << name;
    }
}

} // namespace
