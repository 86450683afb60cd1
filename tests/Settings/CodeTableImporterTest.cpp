#include "Settings/CodeTable/CodeTableImporter.h"

#include "ImportTestSupport.h"
#include "Settings/DatabaseFile.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

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
    EXPECT_TRUE(query(db_, "select * from CodeTable").empty());
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
