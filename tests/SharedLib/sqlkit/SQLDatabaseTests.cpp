#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"
#include "SharedLib/sqlkit/SQLDateFormatter.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

TEST(SQLDatabase, PathGivenToSQLite) {
    struct Case {
        std::optional<std::string> path;
        std::string sqlitePath;
    } cases[] = {{std::nullopt, ":memory:"}, {std::string(), ""}, {std::string("/x/y.db"), "/x/y.db"}};
    for (const auto& c : cases) {
        SQLDatabase db(c.path);
        EXPECT_EQ(db.sqlitePath(), c.sqlitePath);
        EXPECT_EQ(db.databasePath(), c.path);
    }
}

TEST(SQLDatabase, PrivateDatabasesOpenAndWork) {
    for (const auto& path : {std::optional<std::string>(), std::optional<std::string>("")}) {
        SQLDatabase db(path);
        ASSERT_TRUE(db.open());
        EXPECT_TRUE(db.executeUpdate("create table t (a)"));
        EXPECT_TRUE(db.executeUpdate("insert into t values (1)"));
        EXPECT_EQ(intForQuery(db, "select count(*) from t"), 1);
    }
}

TEST(SQLDatabase, OpenTwiceAndCloseWithoutOpen) {
    SQLDatabase never(freshDatabasePath());
    EXPECT_TRUE(never.close());
    EXPECT_FALSE(never.isOpen());

    SQLDatabase db(freshDatabasePath());
    ASSERT_TRUE(db.open());
    sqlite3* handle = db.sqliteHandle();
    EXPECT_TRUE(db.open());
    EXPECT_EQ(db.sqliteHandle(), handle) << "a second open must not reopen";
    EXPECT_TRUE(db.close());
    EXPECT_FALSE(db.isOpen());
    EXPECT_EQ(db.sqliteHandle(), nullptr);
    EXPECT_TRUE(db.close());
    // Reopening a closed connection works.
    EXPECT_TRUE(db.open());
    EXPECT_TRUE(db.goodConnection());
}

TEST(SQLDatabase, OpenFlags) {
    struct Case {
        const char* name;
        int flags;
        bool fileExists;
        bool opens;
        bool writes;
    } cases[] = {
        {"read-only, missing file", SQLDatabase::kOpenReadOnly, false, false, false},
        {"read-write without create, missing file", SQLDatabase::kOpenReadWrite, false, false, false},
        {"read-write and create, missing file", SQLDatabase::kOpenReadWriteCreate, false, true, true},
        {"read-only, existing file", SQLDatabase::kOpenReadOnly, true, true, false},
        {"read-write, existing file", SQLDatabase::kOpenReadWrite, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = freshDatabasePath("flags");
        if (c.fileExists) {
            SQLDatabase setup(path);
            ASSERT_TRUE(setup.open());
            ASSERT_TRUE(setup.executeUpdate("create table t (a)"));
        }
        LogCapture log;
        SQLDatabase db(path);
        EXPECT_EQ(db.openWithFlags(c.flags), c.opens);
        EXPECT_EQ(db.isOpen(), c.opens);
        EXPECT_EQ(std::filesystem::exists(path), c.fileExists || c.opens);
        if (!c.opens) {
            EXPECT_TRUE(log.contains("error opening!: " + std::to_string(SQLITE_CANTOPEN)));
            continue;
        }
        SQLError error;
        bool wrote = db.executeUpdate("create table if not exists t (a)") &&
                     db.executeUpdate("insert into t values (?)", {1}, &error);
        EXPECT_EQ(wrote, c.writes);
        if (!c.writes) {
            EXPECT_EQ(db.lastErrorCode(), SQLITE_READONLY);
        }
    }
}

TEST(SQLDatabase, FailedOpenIsRetriedByTheNextOpen) {
    auto dir = taviro::test::freshDir("late");
    std::string path = (dir / "late.db").string();
    SQLDatabase db(path);
    LogCapture log;
    EXPECT_FALSE(db.openWithFlags(SQLDatabase::kOpenReadOnly));
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(db.open()) << "open creates the file after the failed read-only open";
    EXPECT_TRUE(db.executeUpdate("create table t (a)"));
}

TEST(SQLDatabase, CloseFinalizesLeakedStatements) {
    SQLDatabase db(freshDatabasePath());
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(db.executeUpdate("create table t (a)"));
    // Statements prepared behind the layer's back keep the handle busy.
    sqlite3_stmt* s1 = nullptr;
    sqlite3_stmt* s2 = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.sqliteHandle(), "select * from t", -1, &s1, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_prepare_v2(db.sqliteHandle(), "select 1", -1, &s2, nullptr), SQLITE_OK);
    LogCapture log;
    EXPECT_TRUE(db.close());
    EXPECT_EQ(log.count("Closing leaked statement"), 2);
    EXPECT_FALSE(log.contains("error closing!"));
    EXPECT_FALSE(db.isOpen());
    EXPECT_EQ(db.sqliteHandle(), nullptr);
}

TEST(SQLDatabase, CloseReleasesHandleHeldByABackup) {
    // A running backup is not a statement: the plain close is refused, the
    // handle is still released instead of left open.
    SQLDatabase db(freshDatabasePath());
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(db.executeUpdate("create table t (a)"));
    sqlite3* target = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &target), SQLITE_OK);
    sqlite3_backup* backup = sqlite3_backup_init(target, "main", db.sqliteHandle(), "main");
    ASSERT_NE(backup, nullptr);
    sqlite3_backup_step(backup, 1);
    {
        LogCapture log;
        EXPECT_TRUE(db.close());
        EXPECT_EQ(db.sqliteHandle(), nullptr);
        EXPECT_FALSE(db.isOpen());
    }
    sqlite3_backup_finish(backup);
    sqlite3_close(target);
}

TEST(SQLDatabase, CloseClosesOpenResultSets) {
    SQLDatabase db;
    ASSERT_TRUE(db.open());
    auto rs = db.executeQuery("select 1 union all select 2");
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_TRUE(db.hasOpenResultSets());
    EXPECT_TRUE(db.close());
    EXPECT_FALSE(db.hasOpenResultSets());
    EXPECT_EQ(rs->parentDB(), nullptr);
    EXPECT_EQ(rs->statement(), nullptr);
    LogCapture log;
    EXPECT_FALSE(rs->next());
}

TEST(SQLDatabase, ResultSetOutlivingItsConnectionIsDetached) {
    std::unique_ptr<SQLResultSet> rs;
    {
        SQLDatabase db;
        ASSERT_TRUE(db.open());
        rs = db.executeQuery("select 1");
        ASSERT_TRUE(rs);
    }
    EXPECT_EQ(rs->parentDB(), nullptr);
    LogCapture log;
    SQLError error;
    EXPECT_FALSE(rs->next(&error));
    EXPECT_EQ(error.localizedDescription(), "parentDB does not exist");
}

TEST(SQLDatabase, StatementOnClosedConnectionFails) {
    SQLDatabase db(freshDatabasePath());
    LogCapture log;
    EXPECT_FALSE(db.executeUpdate("create table t (a)"));
    EXPECT_EQ(db.executeQuery("select 1"), nullptr);
    EXPECT_FALSE(db.goodConnection());
    EXPECT_EQ(log.count("is not open."), 2);
    EXPECT_EQ(db.lastInsertRowId(), 0);
    EXPECT_EQ(db.changes(), 0);
}

TEST(SQLDatabase, HadErrorFollowsTheLastCall) {
    SQLDatabase db;
    ASSERT_TRUE(db.open());
    LogCapture log;
    struct Step {
        const char* sql;
        bool asQuery;
        bool hadError;
    } steps[] = {
        {"create table t (a unique)", false, false},
        {"insert into t values (1)", false, false},
        {"insert into t values (1)", false, true},    // constraint
        {"select a from t", true, false},              // a row: SQLITE_ROW is no error
        {"select nosuchcolumn from t", true, true},    // prepare error
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.sql);
        if (s.asQuery) {
            auto rs = db.executeQuery(s.sql);
            if (rs) {
                ASSERT_TRUE(rs->next());
                EXPECT_EQ(db.lastErrorCode(), SQLITE_ROW);
                EXPECT_TRUE(rs->hasAnotherRow());
            }
        } else {
            db.executeUpdate(s.sql);
        }
        EXPECT_EQ(db.hadError(), s.hadError);
        if (s.hadError) {
            EXPECT_EQ(db.lastError().domain(), "SQLDatabase");
            EXPECT_EQ(db.lastError().code(), db.lastErrorCode());
            EXPECT_EQ(db.lastError().localizedDescription(), db.lastErrorMessage());
        }
    }
    EXPECT_EQ(db.lastExtendedErrorCode() & 0xFF, db.lastErrorCode());
}

TEST(SQLDatabase, Versions) {
    EXPECT_EQ(SQLDatabase::SQLKitUserVersion(), "2.7.5");
    EXPECT_EQ(SQLDatabase::SQLKitVersion(), 0x275u);
    struct Case {
        const char* text;
        unsigned number;
    } cases[] = {{"2.7.5", 0x275}, {"2.7", 0x270}, {"3", 0x30}, {"1.10.2", 0x1102}};
    for (const auto& c : cases) EXPECT_EQ(SQLDatabase::versionNumberFromText(c.text), c.number) << c.text;
    EXPECT_EQ(SQLDatabase::sqliteLibVersion(), sqlite3_libversion());
    EXPECT_TRUE(SQLDatabase::isSQLiteThreadSafe());
}

TEST(SQLDatabase, KeysAreRefusedAndTheFileStaysReadable) {
    std::string path = freshDatabasePath();
    {
        SQLDatabase db(path);
        ASSERT_TRUE(db.open());
        EXPECT_FALSE(db.setKey("secret"));
        EXPECT_FALSE(db.rekey("other"));
        ASSERT_TRUE(db.executeUpdate("create table t (a)"));
    }
    SQLDatabase again(path);
    ASSERT_TRUE(again.open());
    EXPECT_TRUE(tableExists(again, "t"));
}

TEST(SQLDatabase, OldBusyTimeoutAccessorsOnlyWarn) {
    SQLDatabase db;
    LogCapture log;
    EXPECT_EQ(db.busyRetryTimeout(), -1);
    db.setBusyRetryTimeout(100);
    EXPECT_EQ(db.maxBusyRetryTimeInterval(), 2.0);
    EXPECT_TRUE(log.contains("SQLKit: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval"));
    EXPECT_TRUE(log.contains("SQLKit: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:"));
}

TEST(SQLDatabase, DateFormatterRoundTrip) {
    auto formatter = SQLDatabase::storeableDateFormat("yyyy-MM-dd HH:mm:ss");
    SQLDate date{std::chrono::seconds(1000000000)};
    EXPECT_EQ(formatter->stringFromDate(date), "2001-09-09 01:46:40");
    EXPECT_EQ(formatter->dateFromString("2001-09-09 01:46:40"), date);
    EXPECT_EQ(formatter->dateFromString("2001-09-09"), std::nullopt);
    SQLDatabase db;
    EXPECT_FALSE(db.hasDateFormatter());
    EXPECT_EQ(db.stringFromDate(date), std::nullopt);
    db.setDateFormat(formatter);
    EXPECT_EQ(db.stringFromDate(date), "2001-09-09 01:46:40");
}

TEST(SQLDateFormatter, FormatsAndParses) {
    using namespace std::chrono;
    struct Case {
        const char* format;
        SQLDate date;
        const char* text;
    } cases[] = {
        {"yyyy-MM-dd HH:mm:ss", SQLDate(seconds(0)), "1970-01-01 00:00:00"},
        {"yyyy-MM-dd'T'HH:mm:ss.SSS", SQLDate(milliseconds(1000000000123LL)), "2001-09-09T01:46:40.123"},
        {"d/M/yy", SQLDate(seconds(999993600)), "9/9/01"},
        {"yyyyMMdd", SQLDate(seconds(951782400)), "20000229"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        SQLDateFormatter f(c.format);
        EXPECT_EQ(f.stringFromDate(c.date), c.text);
        EXPECT_EQ(f.dateFromString(c.text), c.date);
    }
    // Text that does not fit the pattern gives none, never an exception.
    SQLDateFormatter f("yyyy-MM-dd");
    for (const char* bad : {"", "2001-09", "2001-09-09x", "abcd-09-09", "99999999999999999999999-01-01"})
        EXPECT_EQ(f.dateFromString(bad), std::nullopt) << bad;
}

// --- Busy handling with two connections --------------------------------

class BusyTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = freshDatabasePath("busy");
        holder_ = std::make_unique<SQLDatabase>(path_);
        ASSERT_TRUE(holder_->open());
        ASSERT_TRUE(holder_->executeUpdate("create table t (a)"));
        waiter_ = std::make_unique<SQLDatabase>(path_);
        ASSERT_TRUE(waiter_->open());
        // Read the schema now, so later statements prepare without the file.
        ASSERT_EQ(intForQuery(*waiter_, "select count(*) from t"), 0);
        ASSERT_TRUE(holder_->beginExclusiveTransaction());
    }
    // A virtual clock: each sleep moves it on by the time slept.
    void useVirtualClock() {
        waiter_->setBusyTimingHooks(
            [this] {
                ++clockReads_;
                return now_;
            },
            [this](int ms) {
                sleeps_.push_back(ms);
                now_ += ms / 1000.0;
                if (onSleep_) onSleep_(static_cast<int>(sleeps_.size()));
                return ms;
            });
    }

    std::string path_;
    std::unique_ptr<SQLDatabase> holder_;
    std::unique_ptr<SQLDatabase> waiter_;
    double now_ = 1000.0;
    int clockReads_ = 0;
    std::vector<int> sleeps_;
    std::function<void(int)> onSleep_;
};

TEST_F(BusyTest, RetriesUntilTheIntervalHasPassed) {
    useVirtualClock();
    waiter_->setMaxBusyRetryTimeInterval(1.0);
    LogCapture log;
    EXPECT_FALSE(waiter_->executeUpdate("insert into t values (1)"));
    EXPECT_EQ(waiter_->lastErrorCode(), SQLITE_BUSY);
    ASSERT_FALSE(sleeps_.empty());
    // The first callback retries at once; every later one but the last sleeps.
    EXPECT_EQ(clockReads_, static_cast<int>(sleeps_.size()) + 2);
    for (int ms : sleeps_) {
        EXPECT_GE(ms, 50);
        EXPECT_LE(ms, 99);
    }
    // Whole milliseconds: sleeps that add up to exactly the interval may fall
    // either side of it on the clock's floating-point sum.
    int sleptMs = 0;
    for (int ms : sleeps_) sleptMs += ms;
    EXPECT_GE(sleptMs, 1000);
    EXPECT_LE(sleptMs - sleeps_.back(), 1000) << "no sleep starts after the interval";
    EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (5: database is locked) eu"));
}

TEST_F(BusyTest, SucceedsWhenTheLockGoesAway) {
    useVirtualClock();
    onSleep_ = [this](int n) {
        if (n == 3) {
            ASSERT_TRUE(holder_->commit());
        }
    };
    EXPECT_TRUE(waiter_->executeUpdate("insert into t values (1)"));
    EXPECT_EQ(sleeps_.size(), 3u);
}

TEST_F(BusyTest, NoHandlerWhenTheLimitIsZeroOrLess) {
    useVirtualClock();
    for (double limit : {0.0, -1.0}) {
        SCOPED_TRACE(limit);
        waiter_->setMaxBusyRetryTimeInterval(limit);
        LogCapture log;
        EXPECT_FALSE(waiter_->executeUpdate("insert into t values (1)"));
        EXPECT_EQ(waiter_->lastErrorCode(), SQLITE_BUSY);
        EXPECT_EQ(clockReads_, 0);
        EXPECT_TRUE(sleeps_.empty());
    }
    // A positive limit on the open connection installs the handler at once.
    waiter_->setMaxBusyRetryTimeInterval(0.2);
    LogCapture log;
    EXPECT_FALSE(waiter_->executeUpdate("insert into t values (1)"));
    EXPECT_GT(clockReads_, 0);
    EXPECT_FALSE(sleeps_.empty());
}

TEST_F(BusyTest, HandlerIsInstalledAgainOnReopen) {
    useVirtualClock();
    waiter_->setMaxBusyRetryTimeInterval(0.3);
    ASSERT_TRUE(waiter_->close());
    ASSERT_TRUE(waiter_->open());
    LogCapture log;
    // The schema must be read again: the wait now happens while preparing.
    EXPECT_FALSE(waiter_->executeUpdate("insert into t values (1)"));
    EXPECT_TRUE(log.contains("DB Error: 5"));
    EXPECT_FALSE(sleeps_.empty());
}

TEST_F(BusyTest, ReadingABusyFileEndsTheResultSet) {
    waiter_->setMaxBusyRetryTimeInterval(0);
    LogCapture log;
    auto rs = waiter_->executeQuery("select * from t");
    ASSERT_TRUE(rs);
    SQLError error;
    EXPECT_FALSE(rs->next(&error));
    EXPECT_EQ(error.code(), SQLITE_BUSY);
    EXPECT_TRUE(log.contains("Database busy"));
    EXPECT_FALSE(waiter_->hasOpenResultSets());
}

} // namespace
