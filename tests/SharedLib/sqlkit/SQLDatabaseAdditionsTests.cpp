#include <gtest/gtest.h>
#include <sqlite3.h>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

class AdditionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<SQLDatabase>(freshDatabasePath("add"));
        ASSERT_TRUE(db_->open());
        ASSERT_TRUE(db_->executeStatements("create table CodeTable (Code text, Word text, Weight real, Data blob);"
                                           "insert into CodeTable values ('ni', '你', 2.5, x'00FF');"
                                           "insert into CodeTable values (NULL, NULL, NULL, NULL);"));
    }
    std::unique_ptr<SQLDatabase> db_;
};

TEST_F(AdditionsTest, OneValueQueries) {
    SQLDatabase& db = *db_;
    const char* first = "select %s from CodeTable where rowid = ?";
    auto sql = [&](const char* column) {
        char buf[128];
        std::snprintf(buf, sizeof buf, first, column);
        return std::string(buf);
    };
    EXPECT_EQ(stringForQuery(db, sql("Word"), {1}), "你");
    EXPECT_EQ(intForQuery(db, sql("Weight"), {1}), 2);
    EXPECT_EQ(longForQuery(db, "select 5000000000"), 5000000000LL);
    EXPECT_TRUE(boolForQuery(db, sql("Weight"), {1}));
    EXPECT_DOUBLE_EQ(doubleForQuery(db, sql("Weight"), {1}), 2.5);
    EXPECT_EQ(dataForQuery(db, sql("Data"), {1}), (SQLBlob{0x00, 0xFF}));
    EXPECT_EQ(dateForQuery(db, "select 86400.0"), SQLDate(std::chrono::hours(24)));

    // NULL, no row and a failing query all give the defaults.
    LogCapture log;
    for (int rowid : {2, 99}) {
        SCOPED_TRACE(rowid);
        EXPECT_EQ(stringForQuery(db, sql("Word"), {rowid}), std::nullopt);
        EXPECT_EQ(intForQuery(db, sql("Weight"), {rowid}), 0);
        EXPECT_EQ(longForQuery(db, sql("Weight"), {rowid}), 0);
        EXPECT_FALSE(boolForQuery(db, sql("Weight"), {rowid}));
        EXPECT_EQ(doubleForQuery(db, sql("Weight"), {rowid}), 0.0);
        EXPECT_EQ(dataForQuery(db, sql("Data"), {rowid}), std::nullopt);
        EXPECT_EQ(dateForQuery(db, sql("Weight"), {rowid}), std::nullopt);
    }
    EXPECT_EQ(intForQuery(db, "select nosuch from CodeTable"), 0);
    EXPECT_FALSE(db.hasOpenResultSets());
}

TEST_F(AdditionsTest, SchemaQuestions) {
    struct Case {
        const char* table;
        const char* column;
        bool tableExists;
        bool columnExists;
    } cases[] = {
        {"CodeTable", "Code", true, true},
        {"codetable", "WORD", true, true},
        {"CODETABLE", "nosuch", true, false},
        {"nosuch", "Code", false, false},
        {"it's", "q", true, true},
    };
    ASSERT_TRUE(db_->executeUpdate("create table \"it's\" (q)"));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + "." + c.column);
        EXPECT_EQ(tableExists(*db_, c.table), c.tableExists);
        EXPECT_EQ(columnExists(*db_, c.column, c.table), c.columnExists);
    }
    EXPECT_FALSE(db_->hasOpenResultSets());

    auto schema = getSchema(*db_);
    ASSERT_TRUE(schema);
    std::vector<std::string> names;
    while (schema->next()) names.push_back(schema->stringForColumn("name").value_or(""));
    EXPECT_EQ(names, (std::vector<std::string>{"CodeTable", "it's"}));

    // A name that tries to break out of the pragma's quotes stays one name.
    LogCapture log;
    auto info = getTableSchema(*db_, "x') union select 1,2,3,4,5,6 --");
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->next());
}

TEST_F(AdditionsTest, ApplicationIdAndUserVersion) {
    struct Case {
        std::uint32_t value;
    } cases[] = {{0}, {1}, {2147483648u}, {0xFFFFFFFFu}, {0x54617669u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        setApplicationID(*db_, c.value);
        EXPECT_EQ(applicationID(*db_), c.value);
        setUserVersion(*db_, c.value);
        EXPECT_EQ(userVersion(*db_), c.value);
    }
    setApplicationIDString(*db_, "Tavi");
    EXPECT_EQ(applicationID(*db_), 0x54617669u);
    EXPECT_EQ(applicationIDString(*db_), "Tavi");

    LogCapture log;
    setApplicationIDString(*db_, "abc");
    EXPECT_TRUE(log.contains("setApplicationIDString: string passed is not exactly 4 chars long. (was 3)"));
    EXPECT_FALSE(db_->hasOpenResultSets());
}

TEST_F(AdditionsTest, ValidateSQL) {
    SQLError error;
    EXPECT_TRUE(validateSQL(*db_, "select * from CodeTable", &error));
    EXPECT_FALSE(validateSQL(*db_, "select * from nosuch", &error));
    EXPECT_EQ(error.domain(), "NSCocoaErrorDomain");
    EXPECT_EQ(error.code(), SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), "no such table: nosuch");
    EXPECT_FALSE(validateSQL(*db_, "selec 1"));
    // Validation does not run the statement.
    EXPECT_TRUE(validateSQL(*db_, "delete from CodeTable"));
    EXPECT_EQ(intForQuery(*db_, "select count(*) from CodeTable"), 2);
}

} // namespace
