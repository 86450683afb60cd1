#include <gtest/gtest.h>
#include <sqlite3.h>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"
#include "SharedLib/sqlkit/SQLTransaction.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<SQLDatabase>(freshDatabasePath("tx"));
        ASSERT_TRUE(db_->open());
        ASSERT_TRUE(db_->executeUpdate("create table t (a)"));
    }
    int rows() { return intForQuery(*db_, "select count(*) from t"); }
    bool insert(int a) { return db_->executeUpdate("insert into t values (?)", {a}); }
    std::unique_ptr<SQLDatabase> db_;
};

TEST_F(TransactionTest, EveryKindCommitsAndRollsBack) {
    struct Case {
        const char* name;
        bool (SQLDatabase::*begin)();
    } kinds[] = {
        {"default", &SQLDatabase::beginTransaction},
        {"exclusive", &SQLDatabase::beginExclusiveTransaction},
        {"deferred", &SQLDatabase::beginDeferredTransaction},
        {"immediate", &SQLDatabase::beginImmediateTransaction},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        int before = rows();
        ASSERT_TRUE((db_.get()->*k.begin)());
        EXPECT_TRUE(db_->isInTransaction());
        EXPECT_TRUE(insert(1));
        EXPECT_TRUE(db_->rollback());
        EXPECT_FALSE(db_->inTransaction());
        EXPECT_EQ(rows(), before);

        ASSERT_TRUE((db_.get()->*k.begin)());
        EXPECT_TRUE(insert(1));
        EXPECT_TRUE(db_->commit());
        EXPECT_FALSE(db_->isInTransaction());
        EXPECT_EQ(rows(), before + 1);
    }
}

TEST_F(TransactionTest, FailedCallsLeaveTheFlag) {
    LogCapture log;
    EXPECT_FALSE(db_->commit()) << "no transaction to commit";
    EXPECT_FALSE(db_->isInTransaction());
    ASSERT_TRUE(db_->beginTransaction());
    EXPECT_FALSE(db_->beginTransaction()) << "SQLite refuses nested transactions";
    EXPECT_TRUE(db_->isInTransaction());
    EXPECT_TRUE(db_->commit());
    EXPECT_FALSE(db_->rollback());
    EXPECT_FALSE(db_->isInTransaction());
}

TEST_F(TransactionTest, NestedSavePoints) {
    SQLError error;
    ASSERT_TRUE(db_->startSavePointWithName("outer", &error));
    ASSERT_TRUE(insert(1));
    ASSERT_TRUE(db_->startSavePointWithName("it's inner", &error)) << "an apostrophe is doubled";
    ASSERT_TRUE(insert(2));
    EXPECT_EQ(rows(), 2);
    ASSERT_TRUE(db_->rollbackToSavePointWithName("it's inner", &error));
    EXPECT_EQ(rows(), 1);
    ASSERT_TRUE(insert(3));
    ASSERT_TRUE(db_->releaseSavePointWithName("it's inner", &error));
    ASSERT_TRUE(db_->releaseSavePointWithName("outer", &error));
    EXPECT_EQ(intForQuery(*db_, "select sum(a) from t"), 4);

    LogCapture log;
    EXPECT_FALSE(db_->releaseSavePointWithName("nosuch", &error));
    EXPECT_EQ(error.localizedDescription(), "no such savepoint: nosuch");
}

TEST_F(TransactionTest, InSavePoint) {
    struct Case {
        const char* name;
        bool rollback;
        int rowsAfter;
    } cases[] = {{"kept", false, 1}, {"rolled back", true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(db_->executeUpdate("delete from t"));
        bool ran = false;
        auto error = db_->inSavePoint([&](bool& rollback) {
            ran = true;
            insert(1);
            rollback = c.rollback;
        });
        EXPECT_TRUE(ran);
        EXPECT_EQ(error, std::nullopt);
        EXPECT_EQ(rows(), c.rowsAfter);
    }

    // Inside a transaction, rolling a save point back keeps the outer work.
    ASSERT_TRUE(db_->beginTransaction());
    insert(10);
    EXPECT_EQ(db_->inSavePoint([&](bool& rollback) {
        insert(20);
        rollback = true;
    }),
              std::nullopt);
    ASSERT_TRUE(db_->commit());
    EXPECT_EQ(intForQuery(*db_, "select sum(a) from t"), 10);
}

TEST_F(TransactionTest, InSavePointOnAClosedConnectionDoesNotRunTheBlock) {
    db_->close();
    LogCapture log;
    bool ran = false;
    auto error = db_->inSavePoint([&](bool&) { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(error.has_value());
}

TEST_F(TransactionTest, UserFunctions) {
    db_->makeFunctionNamed("describe", 1, [](sqlite3_context* context, int argc, sqlite3_value** argv) {
        ASSERT_EQ(argc, 1);
        sqlite3_value* v = argv[0];
        switch (SQLDatabase::valueType(v)) {
        case SQLITE_INTEGER:
            SQLDatabase::resultLong(SQLDatabase::valueLong(v) * 2, context);
            break;
        case SQLITE_FLOAT:
            SQLDatabase::resultDouble(SQLDatabase::valueDouble(v) / 2, context);
            break;
        case SQLITE_TEXT: {
            // The temporary text is released right after the call: SQLite copied it.
            std::string text = SQLDatabase::valueString(v).value_or("") + "!";
            SQLDatabase::resultString(text, context);
            break;
        }
        case SQLITE_BLOB: {
            auto data = SQLDatabase::valueData(v).value_or(SQLBlob{});
            data.push_back(0xAA);
            SQLDatabase::resultData(data, context);
            break;
        }
        default:
            SQLDatabase::resultNullInContext(context);
        }
    });
    db_->makeFunctionNamed("total", -1, [](sqlite3_context* context, int argc, sqlite3_value** argv) {
        std::int64_t sum = 0;
        for (int i = 0; i < argc; ++i) sum += SQLDatabase::valueInt(argv[i]);
        SQLDatabase::resultLong(sum, context);
    });
    struct Case {
        const char* sql;
        std::string quoted;
    } cases[] = {
        {"select quote(describe(21))", "42"},
        {"select quote(describe(3000000000))", "6000000000"},
        {"select quote(describe(5.0))", "2.5"},
        {"select quote(describe('hi'))", "'hi!'"},
        {"select quote(describe(x'01'))", "X'01AA'"},
        {"select quote(describe(NULL))", "NULL"},
        {"select quote(total())", "0"},
        {"select quote(total(1, 2, 3, 4))", "10"},
    };
    for (const auto& c : cases) EXPECT_EQ(stringForQuery(*db_, c.sql), c.quoted) << c.sql;

    db_->makeFunctionNamed("refuse", 0, [](sqlite3_context* context, int, sqlite3_value**) {
        SQLDatabase::resultErrorCode(SQLITE_CONSTRAINT, context);
    });
    db_->makeFunctionNamed("throws", 0, [](sqlite3_context*, int, sqlite3_value**) {
        throw std::runtime_error("thrown inside");
    });
    LogCapture log;
    EXPECT_FALSE(db_->executeUpdate("insert into t values (refuse())"));
    EXPECT_EQ(db_->lastErrorCode(), SQLITE_CONSTRAINT);
    EXPECT_FALSE(db_->executeUpdate("insert into t values (throws())"));
    EXPECT_EQ(db_->lastErrorMessage(), "thrown inside");
    EXPECT_EQ(rows(), 0);
}

TEST_F(TransactionTest, Checkpoints) {
    ASSERT_EQ(stringForQuery(*db_, "pragma journal_mode = wal"), "wal");
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(insert(i));
    int logFrames = -1;
    int checkpointed = -1;
    SQLError error;
    EXPECT_TRUE(db_->checkpoint(SQLDatabase::kCheckpointPassive, std::nullopt, &logFrames, &checkpointed, &error));
    EXPECT_GT(logFrames, 0);
    EXPECT_EQ(checkpointed, logFrames);
    EXPECT_TRUE(db_->checkpoint(SQLDatabase::kCheckpointTruncate, std::string("main"), &error));

    LogCapture log;
    EXPECT_FALSE(db_->checkpoint(SQLDatabase::kCheckpointPassive, std::string("nosuch"), &error));
    EXPECT_EQ(error.code(), SQLITE_ERROR);
    EXPECT_TRUE(log.contains("unknown database: nosuch"));
}

TEST(TransactionWithoutHandleTest, CheckpointsAndFunctionsFailQuietly) {
    // Never opened, and opened then closed: no handle either way.
    for (bool openFirst : {false, true}) {
        SQLDatabase db(freshDatabasePath("nohandle"));
        if (openFirst) {
            ASSERT_TRUE(db.open());
            ASSERT_TRUE(db.close());
        }
        LogCapture log;
        SQLError error;
        EXPECT_FALSE(db.checkpoint(SQLDatabase::kCheckpointPassive, &error)) << openFirst;
        EXPECT_EQ(error.code(), SQLITE_MISUSE) << openFirst;
        EXPECT_TRUE(log.contains("is not open.")) << openFirst;
        int frames = -1;
        EXPECT_FALSE(db.checkpoint(SQLDatabase::kCheckpointFull, std::string("main"), &frames, nullptr, nullptr));
        EXPECT_EQ(frames, -1);

        db.makeFunctionNamed("later", 0, [](sqlite3_context* context, int, sqlite3_value**) {
            SQLDatabase::resultInt(7, context);
        });
        // Registered with a handle only: a later open does not know it.
        ASSERT_TRUE(db.open());
        db.makeFunctionNamed("now", 0, [](sqlite3_context* context, int, sqlite3_value**) {
            SQLDatabase::resultInt(8, context);
        });
        EXPECT_EQ(intForQuery(db, "select now()"), 8) << openFirst;
        EXPECT_EQ(stringForQuery(db, "select later()"), std::nullopt) << openFirst;
    }
}

// A transaction that the disk fills: SQLite rolls it back by itself, and the work must
// stop there rather than go on row by row in autocommit. max_page_count makes SQLITE_FULL
// as a full disk does.
TEST_F(TransactionTest, AFullDiskEndsTheWorkWithNothingWrittenAndNothingLogged) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(insert(i));
    const int pages = intForQuery(*db_, "pragma page_count");
    ASSERT_TRUE(db_->executeStatements("pragma max_page_count = " + std::to_string(pages + 2)));
    LogCapture log;
    {
        SQLTransaction tx(*db_);
        ASSERT_TRUE(tx.began());
        int written = 0;
        while (written < 1000 && tx.executeUpdate("insert into t values (?)", {std::string(2000, 'x')})) ++written;
        ASSERT_LT(written, 1000) << "the disk never filled";
        EXPECT_TRUE(tx.failed());
        EXPECT_FALSE(tx.isOpen());
        EXPECT_NE(tx.failure().find("full"), std::string::npos) << tx.failure();
        EXPECT_EQ(tx.refusedRows(), 0);
        // Nothing more runs, so nothing commits on its own.
        EXPECT_FALSE(tx.executeUpdate("insert into t values (?)", {1}));
        EXPECT_FALSE(tx.executeStatements("insert into t values (1)"));
        EXPECT_FALSE(tx.commit());
        EXPECT_FALSE(db_->isInTransaction());
    }
    EXPECT_EQ(rows(), 3);
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    // The connection logs its failures again afterwards.
    EXPECT_FALSE(db_->executeUpdate("insert into missing values (1)"));
    EXPECT_FALSE(log.lines().empty());
}

TEST_F(TransactionTest, ARefusedRowIsDroppedAndTheRestCommits) {
    ASSERT_TRUE(db_->executeUpdate("create table u (a unique not null)"));
    SQLTransaction tx(*db_);
    struct Case {
        SQLValue value;
        bool stored;
    } cases[] = {{1, true}, {1, false}, {SQLValue(), false}, {2, true}};
    for (const auto& c : cases) EXPECT_EQ(tx.executeUpdate("insert into u values (?)", {c.value}), c.stored);
    EXPECT_FALSE(tx.failed());
    EXPECT_EQ(tx.refusedRows(), 2);
    EXPECT_TRUE(tx.commit());
    EXPECT_FALSE(db_->isInTransaction());
    EXPECT_EQ(intForQuery(*db_, "select count(*) from u"), 2);
}

TEST_F(TransactionTest, AnUncommittedTransactionIsRolledBackAndANestedOneLeavesTheOuterAlone) {
    {
        SQLTransaction outer(*db_);
        ASSERT_TRUE(outer.began());
        EXPECT_TRUE(outer.executeUpdate("insert into t values (1)"));
        {
            SQLTransaction inner(*db_);
            EXPECT_FALSE(inner.began());
            EXPECT_TRUE(inner.failed());
            EXPECT_FALSE(inner.executeUpdate("insert into t values (2)"));
        }
        EXPECT_TRUE(outer.isOpen());
        EXPECT_TRUE(outer.executeUpdate("insert into t values (3)"));
    }
    EXPECT_FALSE(db_->isInTransaction());
    EXPECT_EQ(rows(), 0);
    {
        SQLTransaction tx(*db_, SQLTransaction::Kind::Immediate);
        EXPECT_TRUE(tx.executeStatements("insert into t values (1); insert into t values (2);"));
        EXPECT_TRUE(tx.commit());
        EXPECT_FALSE(tx.commit()) << "committed once";
    }
    EXPECT_EQ(rows(), 2);
}

} // namespace
