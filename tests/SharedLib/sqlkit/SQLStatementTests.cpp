#include <gtest/gtest.h>
#include <sqlite3.h>

#include <limits>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

class StatementTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<SQLDatabase>(freshDatabasePath("stmt"));
        ASSERT_TRUE(db_->open());
        ASSERT_TRUE(db_->executeUpdate("create table t (a, b)"));
    }
    int rows() { return intForQuery(*db_, "select count(*) from t"); }
    std::unique_ptr<SQLDatabase> db_;
};

TEST_F(StatementTest, BindsEveryKindOfValue) {
    const std::string longText(300, 'x');  // beyond any small-string buffer
    struct Case {
        const char* name;
        SQLValue value;
        const char* type;
        std::string quoted;
    } cases[] = {
        {"null", SQLValue(), "null", "NULL"},
        {"null pointer text", SQLValue(static_cast<const char*>(nullptr)), "null", "NULL"},
        {"empty optional", SQLValue(std::optional<int>()), "null", "NULL"},
        {"optional with a value", SQLValue(std::optional<int>(4)), "integer", "4"},
        {"true", true, "integer", "1"},
        {"false", false, "integer", "0"},
        {"int", 42, "integer", "42"},
        {"negative short", static_cast<short>(-7), "integer", "-7"},
        {"unsigned int", 4294967295u, "integer", "4294967295"},
        {"largest int64", std::numeric_limits<std::int64_t>::max(), "integer", "9223372036854775807"},
        {"smallest int64", std::numeric_limits<std::int64_t>::min(), "integer", "-9223372036854775808"},
        {"unsigned 64-bit above int64", 9223372036854775808ull, "integer", "-9223372036854775808"},
        {"largest unsigned 64-bit", std::numeric_limits<std::uint64_t>::max(), "integer", "-1"},
        {"double", 1.5, "real", "1.5"},
        {"float", 0.25f, "real", "0.25"},
        {"text", "héllo", "text", "'héllo'"},
        {"text with a quote", std::string("a'b"), "text", "'a''b'"},
        {"empty text", "", "text", "''"},
        {"long text", longText, "text", "'" + longText + "'"},
        {"blob", SQLBlob{0x01, 0x02, 0xFF}, "blob", "X'0102FF'"},
        {"empty blob", SQLBlob{}, "blob", "X''"},
        {"date without formatter", SQLDate(std::chrono::milliseconds(1000500)), "real", "1000.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The argument list is a temporary: the values must outlive it.
        auto rs = db_->executeQuery("select typeof(?1), quote(?1)", SQLArguments{c.value});
        ASSERT_TRUE(rs);
        ASSERT_TRUE(rs->next());
        EXPECT_EQ(rs->stringForColumnIndex(0), c.type);
        EXPECT_EQ(rs->stringForColumnIndex(1), c.quoted);
        rs->close();
        // The update road binds alike.
        ASSERT_TRUE(db_->executeUpdate("insert into t values (?, typeof(?))", {c.value, c.value}));
        EXPECT_EQ(stringForQuery(*db_, "select b from t where rowid = last_insert_rowid()"), c.type);
    }
}

TEST_F(StatementTest, DatesWithAFormatterAreText) {
    db_->setDateFormat(SQLDatabase::storeableDateFormat("yyyy-MM-dd HH:mm:ss"));
    SQLDate date{std::chrono::seconds(1000000000)};
    ASSERT_TRUE(db_->executeUpdate("insert into t values (?, 0)", {date}));
    EXPECT_EQ(stringForQuery(*db_, "select a from t"), "2001-09-09 01:46:40");
    EXPECT_EQ(dateForQuery(*db_, "select a from t"), date);
}

TEST_F(StatementTest, ArgumentCount) {
    struct Case {
        const char* name;
        SQLArguments arguments;
        bool ok;
    } cases[] = {
        {"exact", {1, 2}, true},
        {"one extra is ignored", {1, 2, 3}, true},
        {"one missing", {1}, false},
        {"none", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        SQLError error;
        EXPECT_EQ(db_->executeUpdate("insert into t values (?, ?)", c.arguments, &error), c.ok);
        auto rs = db_->executeQuery("select ?, ?", c.arguments);
        EXPECT_EQ(rs != nullptr, c.ok);
        if (c.ok) continue;
        std::string message = "Error: the bind count (" + std::to_string(c.arguments.size()) +
                              ") is not correct for the # of variables in the query (2) (insert into t values (?, ?)) "
                              "(executeUpdate)";
        EXPECT_TRUE(log.contains(message));
        EXPECT_EQ(error.localizedDescription(), message);
        EXPECT_EQ(error.domain(), "SQLDatabase");
        EXPECT_TRUE(log.contains("Error: the bind count is not correct for the # of variables (executeQuery)"));
    }
    EXPECT_EQ(rows(), 2);
}

TEST_F(StatementTest, NamedArguments) {
    LogCapture log;
    SQLError error;
    EXPECT_TRUE(db_->executeUpdate("insert into t values (:a, :b)", SQLNamedArguments{{"a", 1}, {"b", "x"}}, &error));
    EXPECT_EQ(error.code(), 0);
    EXPECT_FALSE(log.contains("Could not find index"));

    // A key without its placeholder is reported and skipped.
    EXPECT_TRUE(db_->executeUpdate("insert into t values (:a, :b)",
                                   SQLNamedArguments{{"a", 2}, {"b", "y"}, {"extra", 0}}, &error));
    EXPECT_TRUE(log.contains("Could not find index for extra"));
    EXPECT_EQ(error.localizedDescription(), "Could not find index for extra");

    // Only ":key" is looked up: "@a" and "$a" are not bound.
    log.clear();
    EXPECT_FALSE(db_->executeUpdate("insert into t values (@a, :b)", SQLNamedArguments{{"a", 3}, {"b", "z"}}));
    EXPECT_TRUE(log.contains("Could not find index for a"));

    auto rs = db_->executeQuery("select b from t where a = :a", SQLNamedArguments{{"a", 2}});
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0), "y");
    rs->close();
    EXPECT_EQ(rows(), 2);
}

TEST_F(StatementTest, UpdateThatReturnsRowsFails) {
    LogCapture log;
    SQLError error;
    EXPECT_FALSE(db_->executeUpdate("select 1", SQLArguments{}, &error));
    EXPECT_TRUE(log.contains("A executeUpdate is being called with a query string 'select 1'"));
    EXPECT_EQ(error.localizedDescription(), "A executeUpdate is being called with a query string 'select 1'");
}

TEST_F(StatementTest, PrepareAndStepErrors) {
    LogCapture log;
    SQLError error;
    EXPECT_FALSE(db_->executeUpdate("insert into nosuch values (1)", SQLArguments{}, &error));
    EXPECT_EQ(error.code(), SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), "no such table: nosuch");
    EXPECT_TRUE(log.contains("DB Error: 1 \"no such table: nosuch\""));
    EXPECT_TRUE(log.contains("DB Query: insert into nosuch values (1)"));
    EXPECT_TRUE(log.contains("DB Path: " + *db_->databasePath()));

    ASSERT_TRUE(db_->executeUpdate("create table u (k unique)"));
    ASSERT_TRUE(db_->executeUpdate("insert into u values (1)"));
    log.clear();
    EXPECT_FALSE(db_->executeUpdate("insert into u values (1)", SQLArguments{}, &error));
    EXPECT_EQ(error.code(), SQLITE_CONSTRAINT);
    EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (19: UNIQUE constraint failed: u.k) eu"));

    // Without logsErrors the same failures are silent.
    db_->setLogsErrors(false);
    log.clear();
    EXPECT_FALSE(db_->executeUpdate("insert into u values (1)"));
    EXPECT_EQ(db_->executeQuery("select * from nosuch"), nullptr);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(StatementTest, RowIdsAndChangesAre64Bit) {
    ASSERT_TRUE(db_->executeUpdate("insert into t (rowid, a) values (?, 1)", {5000000000LL}));
    EXPECT_EQ(db_->lastInsertRowId(), 5000000000LL);
    ASSERT_TRUE(db_->executeUpdate("insert into t (a) values (2)"));
    EXPECT_EQ(db_->lastInsertRowId(), 5000000001LL);
    ASSERT_TRUE(db_->executeUpdate("insert into t (a) values (3)"));
    ASSERT_TRUE(db_->executeUpdate("update t set b = 'x' where a >= 2"));
    EXPECT_EQ(db_->changes(), 2);
    auto rs = db_->executeQuery("select rowid from t order by rowid");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->longForColumnIndex(0), 5000000000LL);
    EXPECT_EQ(rs->intForColumnIndex(0), static_cast<int>(5000000000LL & 0xFFFFFFFF)) << "int reads the low bits";
}

TEST_F(StatementTest, InUseGuardRefusesReentry) {
    // A SQL function runs while the update holds the connection.
    std::int64_t changesInside = -1;
    std::int64_t rowIdInside = -1;
    bool queryInside = true;
    db_->makeFunctionNamed("peek", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
        changesInside = db_->changes();
        rowIdInside = db_->lastInsertRowId();
        queryInside = db_->executeQuery("select 1") != nullptr;
        SQLDatabase::resultInt(1, context);
    });
    ASSERT_TRUE(db_->executeUpdate("insert into t values (7, 7)"));
    LogCapture log;
    EXPECT_TRUE(db_->executeUpdate("insert into t values (peek(), 0)"));
    EXPECT_EQ(changesInside, 0);
    EXPECT_EQ(rowIdInside, 0);
    EXPECT_FALSE(queryInside);
    EXPECT_EQ(log.count("is currently in use."), 3);
    EXPECT_GT(db_->lastInsertRowId(), 0) << "the guard is released afterwards";
}

TEST_F(StatementTest, RefusedUpdateFillsItsErrorSlot) {
    // Inside a SQL function the update still holds the connection.
    SQLError inUse;
    bool inUseResult = true;
    db_->makeFunctionNamed("nested", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
        inUseResult = db_->executeUpdate("insert into t values (?, ?)", SQLArguments{1, 2}, &inUse);
        SQLDatabase::resultInt(1, context);
    });
    LogCapture log;
    ASSERT_TRUE(db_->executeUpdate("insert into t values (nested(), 0)"));
    EXPECT_FALSE(inUseResult);

    db_->close();
    SQLError notOpen;
    EXPECT_FALSE(db_->executeUpdate("insert into t values (?, ?)", SQLArguments{1, 2}, &notOpen));

    struct Case {
        const char* name;
        const SQLError& error;
        const char* text;
    } cases[] = {
        {"in use", inUse, " is currently in use."},
        {"not open", notOpen, " is not open."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.domain(), "SQLDatabase") << c.name;
        EXPECT_NE(c.error.localizedDescription().find(c.text), std::string::npos) << c.name;
    }
    EXPECT_EQ(notOpen.code(), SQLITE_MISUSE);
}

TEST_F(StatementTest, Scripts) {
    EXPECT_TRUE(db_->executeStatements("insert into t values (1, 'one');\ninsert into t values (2, NULL);"
                                       "insert into t values (3, cast(x'FF' as text))"));
    std::vector<std::map<std::string, std::optional<std::string>>> seen;
    EXPECT_TRUE(db_->executeStatements("select a, b from t order by a", [&](const auto& row) {
        seen.push_back(row);
        return 0;
    }));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].at("a"), "1");
    EXPECT_EQ(seen[0].at("b"), "one");
    EXPECT_EQ(seen[1].at("b"), std::nullopt) << "NULL";
    EXPECT_EQ(seen[2].at("b"), std::nullopt) << "text that is not UTF-8";

    int calls = 0;
    LogCapture log;
    EXPECT_FALSE(db_->executeStatements("select a from t", [&](const auto&) { return ++calls; }));
    EXPECT_EQ(calls, 1) << "a non-zero result stops the script";
    EXPECT_TRUE(log.contains("Error inserting batch: query aborted"));

    // A failing statement stops the script there.
    EXPECT_FALSE(db_->executeStatements("insert into t values (4, 0); insert into nosuch values (1); "
                                        "insert into t values (5, 0)"));
    EXPECT_EQ(rows(), 4);
}

// --- Statement cache ----------------------------------------------------

TEST_F(StatementTest, CacheReusesAFreeStatement) {
    db_->setShouldCacheStatements(true);
    const char* sql = "select a from t where a = ?";
    ASSERT_TRUE(db_->executeUpdate("insert into t values (1, 0)"));
    SQLStatement* first = nullptr;
    for (int i = 0; i < 3; ++i) {
        auto rs = db_->executeQuery(sql, {1});
        ASSERT_TRUE(rs);
        if (!first) first = rs->statement().get();
        EXPECT_EQ(rs->statement().get(), first);
        ASSERT_TRUE(rs->next());
        EXPECT_EQ(rs->intForColumnIndex(0), 1);
        EXPECT_FALSE(rs->next());
    }
    EXPECT_EQ(db_->cachedStatementCount(sql), 1u);
    EXPECT_EQ(db_->cachedStatementForQuery(sql)->useCount(), 3);
    EXPECT_EQ(db_->cachedStatementForQuery(sql)->query(), sql);

    // Updates are cached, reset and reused too.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(db_->executeUpdate("insert into t values (?, 0)", {i}));
    EXPECT_EQ(db_->cachedStatementCount("insert into t values (?, 0)"), 1u);
    EXPECT_EQ(db_->cachedStatementForQuery("insert into t values (?, 0)")->useCount(), 3);
}

TEST_F(StatementTest, CacheNeverHandsOutAStatementInUse) {
    db_->setShouldCacheStatements(true);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(db_->executeUpdate("insert into t values (?, 0)", {i}));
    const char* sql = "select a from t order by a";
    auto rs1 = db_->executeQuery(sql);
    ASSERT_TRUE(rs1 && rs1->next());
    EXPECT_EQ(rs1->intForColumnIndex(0), 0);
    EXPECT_EQ(db_->cachedStatementForQuery(sql), nullptr);

    auto rs2 = db_->executeQuery(sql);
    ASSERT_TRUE(rs2);
    EXPECT_NE(rs2->statement(), rs1->statement());
    // Both cursors walk on their own.
    ASSERT_TRUE(rs2->next());
    ASSERT_TRUE(rs2->next());
    EXPECT_EQ(rs2->intForColumnIndex(0), 1);
    ASSERT_TRUE(rs1->next());
    EXPECT_EQ(rs1->intForColumnIndex(0), 1);
    // Another text works while both are open.
    EXPECT_EQ(intForQuery(*db_, "select count(*) from t"), 3);

    rs1->close();
    rs2->close();
    EXPECT_EQ(db_->cachedStatementCount(sql), 2u);
    auto rs3 = db_->executeQuery(sql);
    ASSERT_TRUE(rs3 && rs3->next());
    EXPECT_EQ(rs3->intForColumnIndex(0), 0) << "a reused statement starts from the first row";
    EXPECT_EQ(db_->cachedStatementCount(sql), 2u);
}

TEST_F(StatementTest, TurningTheCacheOffKeepsOpenResultSetsReadable) {
    db_->setShouldCacheStatements(true);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(db_->executeUpdate("insert into t values (?, 0)", {i}));
    auto rs = db_->executeQuery("select a from t order by a");
    ASSERT_TRUE(rs && rs->next());
    db_->setShouldCacheStatements(false);
    EXPECT_EQ(db_->cachedStatementCount("select a from t order by a"), 0u);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 1);
    ASSERT_TRUE(rs->next());
    EXPECT_FALSE(rs->next());
}

TEST_F(StatementTest, BindCountMismatchDropsTheCachedStatement) {
    db_->setShouldCacheStatements(true);
    const char* sql = "select ? + ?";
    EXPECT_EQ(intForQuery(*db_, sql, {1, 2}), 3);
    EXPECT_EQ(db_->cachedStatementCount(sql), 1u);
    LogCapture log;
    EXPECT_EQ(db_->executeQuery(sql, {1}), nullptr);
    EXPECT_EQ(db_->cachedStatementCount(sql), 0u);
    EXPECT_EQ(intForQuery(*db_, sql, {2, 2}), 4);

    const char* update = "insert into t values (?, ?)";
    ASSERT_TRUE(db_->executeUpdate(update, {1, 1}));
    EXPECT_FALSE(db_->executeUpdate(update, {1}));
    EXPECT_EQ(db_->cachedStatementCount(update), 0u);
    EXPECT_TRUE(db_->executeUpdate(update, {2, 2}));
}

TEST_F(StatementTest, CloseFinalizesCachedStatements) {
    db_->setShouldCacheStatements(true);
    EXPECT_EQ(intForQuery(*db_, "select 1"), 1);
    auto rs = db_->executeQuery("select 2");
    ASSERT_TRUE(rs);
    LogCapture log;
    EXPECT_TRUE(db_->close());
    EXPECT_FALSE(log.contains("Closing leaked statement"));
    EXPECT_EQ(db_->cachedStatementCount("select 1"), 0u);
}

// --- Format conversion --------------------------------------------------

TEST(SQLFormat, ConversionToPlaceholders) {
    struct Case {
        const char* format;
        SQLArguments arguments;
        const char* sql;
        SQLArguments expected;
    } cases[] = {
        {"select * from t where a = %@ and b = %d", {"x", 5}, "select * from t where a = ? and b = ?", {"x", 5}},
        {"a = %@", {SQLValue()}, "a = NULL", {}},
        {"a = %d", {}, "a = NULL", {}},
        {"like 'x%%'", {}, "like 'x%'", {}},
        {"%%d and %d", {7}, "%d and ?", {7}},
        {"100%", {}, "100", {}},
        {"%s %c", {"abc", 65}, "? ?", {"abc", "A"}},
        {"%i %D", {-3, 4}, "? ?", {-3, 4}},
        {"%u %U", {-1, 5}, "? ?", {4294967295LL, 5}},
        {"%hi %hu", {70000, -1}, "? ?", {4464, 65535}},
        {"%qi %qu", {-5, -1}, "? ?", {-5, -1}},
        {"%ld %lu %lld %llu", {1, 2, 3, 4}, "? ? ? ?", {1, 2, 3, 4}},
        {"%lld", {5000000000LL}, "?", {5000000000LL}},
        {"%f %g", {1.5, 0.1}, "? ?", {1.5, static_cast<double>(0.1f)}},
        {"%x", {}, "x", {}},
        {"%hx", {}, "hx", {}},
        {"%qx", {}, "qx", {}},
        {"%lx", {}, "lx", {}},
        {"%llx", {}, "lx", {}},
        {"%@ %@", {1}, "? NULL", {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        std::string sql;
        SQLArguments out;
        SQLDatabase::extractSQL(c.format, c.arguments, sql, out);
        EXPECT_EQ(sql, c.sql);
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(StatementTest, FormatRoads) {
    ASSERT_TRUE(db_->executeUpdateWithFormat("insert into t values (%d, %@)", {1, "50%"}));
    ASSERT_TRUE(db_->executeUpdateWithFormat("insert into t values (%d, %@)", {2, SQLValue()}));
    auto rs = db_->executeQueryWithFormat("select b from t where a = %d and b like '%%\\%%' escape '\\'", {1});
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0), "50%");
    rs->close();
    EXPECT_EQ(intForQuery(*db_, "select count(*) from t where b is null"), 1);
}

// --- Interruption --------------------------------------------------------

TEST_F(StatementTest, InterruptFillsTheErrorSlot) {
    SQLDatabase never;
    EXPECT_FALSE(never.interrupt());

    db_->makeFunctionNamed("stop", 1, [&](sqlite3_context* context, int, sqlite3_value** argv) {
        db_->interrupt();
        SQLDatabase::resultLong(SQLDatabase::valueLong(argv[0]), context);
    });
    const char* counting = "with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000) ";
    LogCapture log;
    SQLError error;
    EXPECT_FALSE(db_->executeUpdate(std::string(counting) + "insert into t select stop(x), 0 from c", SQLArguments{},
                                    &error));
    EXPECT_EQ(error.code(), SQLITE_INTERRUPT);
    EXPECT_EQ(error.domain(), "SQLDatabase");
    EXPECT_TRUE(log.contains("Error calling sqlite3_step. Query was interrupted (9: interrupted) SQLITE_INTERRUPT"));
    EXPECT_EQ(rows(), 0);

    auto rs = db_->executeQuery(std::string(counting) + "select stop(x) from c");
    ASSERT_TRUE(rs);
    int seen = 0;
    while (rs->next(&error)) ++seen;
    EXPECT_LT(seen, 1000);
    EXPECT_EQ(error.code(), SQLITE_INTERRUPT);
    EXPECT_FALSE(db_->hasOpenResultSets());
    // The connection works again afterwards.
    EXPECT_TRUE(db_->executeUpdate("insert into t values (1, 1)"));
}

} // namespace
