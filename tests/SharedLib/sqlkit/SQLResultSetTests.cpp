#include <gtest/gtest.h>
#include <sqlite3.h>

#include <limits>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

class ResultSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<SQLDatabase>(freshDatabasePath("rs"));
        ASSERT_TRUE(db_->open());
        ASSERT_TRUE(db_->executeStatements(
            "create table v (i integer, r real, t text, n, b blob, e blob, big integer, neg integer, two integer);"
            "insert into v values (7, 2.5, 'abc', NULL, x'0102', x'', 5000000000, -1, 2)"));
    }
    std::unique_ptr<SQLResultSet> row() {
        auto rs = db_->executeQuery("select * from v");
        EXPECT_TRUE(rs && rs->next());
        return rs;
    }
    std::unique_ptr<SQLDatabase> db_;
};

TEST_F(ResultSetTest, GettersByIndexAndName) {
    auto rs = row();
    ASSERT_TRUE(rs);
    struct Case {
        const char* column;
        int asInt;
        std::int64_t asLong;
        double asDouble;
        std::optional<std::string> asString;
        bool asBool;
        bool isNull;
        SQLValue::Type objectType;
    } cases[] = {
        {"i", 7, 7, 7.0, "7", true, false, SQLValue::Type::Integer},
        {"r", 2, 2, 2.5, "2.5", true, false, SQLValue::Type::Real},
        {"t", 0, 0, 0.0, "abc", false, false, SQLValue::Type::Text},
        {"n", 0, 0, 0.0, std::nullopt, false, true, SQLValue::Type::Null},
        {"b", 0, 0, 0.0, std::string("\x01\x02"), false, false, SQLValue::Type::Blob},
        {"e", 0, 0, 0.0, "", false, false, SQLValue::Type::Null},
        {"big", static_cast<int>(5000000000LL & 0xFFFFFFFF), 5000000000LL, 5e9, "5000000000", true, false,
         SQLValue::Type::Integer},
        {"two", 2, 2, 2.0, "2", true, false, SQLValue::Type::Integer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        int index = rs->columnIndexForName(c.column);
        ASSERT_GE(index, 0);
        // First: SQLite reports the type of the value after a text read converted it.
        auto object = rs->objectForColumn(c.column);
        ASSERT_TRUE(object);
        EXPECT_EQ(object->type(), c.objectType);
        EXPECT_EQ(rs->columnNameForIndex(index), c.column);
        EXPECT_EQ(rs->intForColumnIndex(index), c.asInt);
        EXPECT_EQ(rs->intForColumn(c.column), c.asInt);
        EXPECT_EQ(rs->longForColumnIndex(index), c.asLong);
        EXPECT_EQ(rs->longLongIntForColumn(c.column), c.asLong);
        EXPECT_DOUBLE_EQ(rs->doubleForColumn(c.column), c.asDouble);
        EXPECT_EQ(rs->stringForColumn(c.column), c.asString);
        EXPECT_EQ(rs->boolForColumn(c.column), c.asBool);
        EXPECT_EQ(rs->columnIsNull(c.column), c.isNull);
        const char* utf8 = rs->UTF8StringForColumn(c.column);
        EXPECT_EQ(utf8 != nullptr, c.asString.has_value());
    }
    EXPECT_EQ(rs->unsignedLongLongIntForColumn("neg"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(rs->dataForColumn("b"), (SQLBlob{1, 2}));
    EXPECT_EQ(rs->dataForColumn("e"), std::nullopt) << "a zero-length blob reads as none";
    EXPECT_EQ(rs->dataForColumn("n"), std::nullopt);
    auto noCopy = rs->dataNoCopyForColumn("b");
    ASSERT_TRUE(noCopy);
    EXPECT_EQ(noCopy->size(), 2u);
    EXPECT_EQ((*noCopy)[1], 2);
    EXPECT_EQ((*rs)[0], SQLValue(7));
    EXPECT_EQ((*rs)["T"], SQLValue("abc"));
}

TEST_F(ResultSetTest, BadIndexesAndNames) {
    auto rs = row();
    ASSERT_TRUE(rs);
    int count = rs->columnCount();
    EXPECT_EQ(count, 9);
    for (int index : {-1, count, count + 5}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(rs->objectForColumnIndex(index), std::nullopt);
        EXPECT_EQ(rs->stringForColumnIndex(index), std::nullopt);
        EXPECT_EQ(rs->dataForColumnIndex(index), std::nullopt);
        EXPECT_EQ(rs->dateForColumnIndex(index), std::nullopt);
        EXPECT_EQ(rs->UTF8StringForColumnIndex(index), nullptr);
        EXPECT_EQ(rs->intForColumnIndex(index), 0);
        EXPECT_EQ(rs->longForColumnIndex(index), 0);
    }
    LogCapture log;
    EXPECT_EQ(rs->columnIndexForName("NoSuch"), -1);
    EXPECT_TRUE(log.contains("Warning: I could not find the column named 'nosuch'."));
    EXPECT_EQ(rs->intForColumn("nosuch"), 0);
    EXPECT_EQ(rs->stringForColumn("nosuch"), std::nullopt);
    EXPECT_EQ(rs->objectForColumn("nosuch"), std::nullopt);
}

TEST_F(ResultSetTest, NameMapIgnoresCaseAndTheLaterColumnWins) {
    auto rs = db_->executeQuery("select 1 as Foo, 2 as foo, 3 as Bar");
    ASSERT_TRUE(rs && rs->next());
    const auto& map = rs->columnNameToIndexMap();
    EXPECT_EQ(map, (std::map<std::string, int>{{"foo", 1}, {"bar", 2}}));
    EXPECT_EQ(rs->intForColumn("FOO"), 2);
    EXPECT_EQ(rs->intForColumn("bar"), 3);

    auto dict = rs->resultDictionary();
    ASSERT_TRUE(dict);
    EXPECT_EQ(dict->count("Bar"), 1u) << "names as SQLite reports them";
    auto lower = rs->resultDict();
    ASSERT_TRUE(lower);
    EXPECT_EQ(*lower, (std::map<std::string, SQLValue>{{"foo", 2}, {"bar", 3}}));
}

TEST_F(ResultSetTest, DictionaryOfARowWithNulls) {
    auto rs = row();
    ASSERT_TRUE(rs);
    auto dict = rs->resultDictionary();
    ASSERT_TRUE(dict);
    EXPECT_EQ(dict->at("n"), SQLValue());
    EXPECT_EQ(dict->at("e"), SQLValue()) << "an empty blob gives the null value";
    EXPECT_EQ(dict->at("t"), SQLValue("abc"));
    EXPECT_FALSE(rs->next());
    LogCapture log;
    EXPECT_EQ(rs->resultDictionary(), std::nullopt);
    EXPECT_TRUE(log.contains("Warning: There seem to be no columns in this set."));
}

TEST_F(ResultSetTest, EndOfRowsClosesTheSet) {
    auto rs = db_->executeQuery("select * from v where i = 0");
    ASSERT_TRUE(rs);
    EXPECT_TRUE(db_->hasOpenResultSets());
    EXPECT_FALSE(rs->next());
    EXPECT_FALSE(db_->hasOpenResultSets());
    EXPECT_EQ(rs->statement(), nullptr);

    LogCapture log;
    SQLError error;
    EXPECT_FALSE(rs->next(&error));
    EXPECT_EQ(error.code(), SQLITE_MISUSE);
    EXPECT_EQ(error.localizedDescription(), "parentDB does not exist");
    EXPECT_TRUE(log.contains("Error calling sqlite3_step (21:"));
    rs->close();  // closing again is harmless
}

TEST_F(ResultSetTest, DestroyingASetClosesIt) {
    {
        auto rs = db_->executeQuery("select * from v");
        ASSERT_TRUE(rs && rs->next());
        EXPECT_TRUE(db_->hasOpenResultSets());
    }
    EXPECT_FALSE(db_->hasOpenResultSets());
    EXPECT_TRUE(db_->executeUpdate("drop table v")) << "no statement still reads the table";
}

TEST_F(ResultSetTest, StepErrorsEndTheSet) {
    db_->makeFunctionNamed("fail", 1, [](sqlite3_context* context, int, sqlite3_value** argv) {
        if (SQLDatabase::valueInt(argv[0]) == 2)
            SQLDatabase::resultError("no twos", context);
        else
            SQLDatabase::resultInt(SQLDatabase::valueInt(argv[0]), context);
    });
    auto rs = db_->executeQuery("select fail(column1) from (values (1), (2), (3))");
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    LogCapture log;
    SQLError error;
    EXPECT_FALSE(rs->next(&error));
    EXPECT_EQ(error.code(), SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), "no twos");
    EXPECT_TRUE(log.contains("Error calling sqlite3_step (1: no twos) rs"));
    EXPECT_FALSE(db_->hasOpenResultSets());
}

TEST_F(ResultSetTest, Dates) {
    ASSERT_TRUE(db_->executeUpdate("create table d (x)"));
    ASSERT_TRUE(db_->executeUpdate("insert into d values (1000000000.5)"));
    auto rs = db_->executeQuery("select x from d");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->dateForColumnIndex(0), SQLDate(std::chrono::milliseconds(1000000000500LL)));
    rs->close();

    db_->setDateFormat(SQLDatabase::storeableDateFormat("yyyy-MM-dd"));
    ASSERT_TRUE(db_->executeUpdate("update d set x = '2001-09-09'"));
    rs = db_->executeQuery("select x from d");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->dateForColumnIndex(0), SQLDate(std::chrono::seconds(999993600)));
}

} // namespace
