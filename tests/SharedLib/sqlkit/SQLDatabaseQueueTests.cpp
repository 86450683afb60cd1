#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <future>
#include <thread>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"
#include "SharedLib/sqlkit/SQLDatabaseQueue.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = freshDatabasePath("queue");
        queue_ = SQLDatabaseQueue::databaseQueueWithPath(path_);
        ASSERT_TRUE(queue_);
        queue_->inDatabase([](SQLDatabase* db) { ASSERT_TRUE(db->executeUpdate("create table t (a)")); });
    }
    int rows() {
        int n = -1;
        queue_->inDatabase([&](SQLDatabase* db) { n = intForQuery(*db, "select count(*) from t"); });
        return n;
    }
    std::string path_;
    std::unique_ptr<SQLDatabaseQueue> queue_;
};

TEST(SQLDatabaseQueue, CreationOpensTheFile) {
    std::string missing = freshDatabasePath("missing");
    LogCapture log;
    EXPECT_EQ(SQLDatabaseQueue::databaseQueueWithPath(missing, SQLDatabase::kOpenReadOnly), nullptr);
    EXPECT_TRUE(log.contains("Could not create database queue for path " + missing));
    EXPECT_FALSE(std::filesystem::exists(missing));

    auto created = SQLDatabaseQueue::databaseQueueWithPath(missing);
    ASSERT_TRUE(created);
    EXPECT_TRUE(std::filesystem::exists(missing));
    EXPECT_EQ(created->path(), missing);
    EXPECT_EQ(created->openFlags(), SQLDatabase::kOpenReadWriteCreate);

    auto readOnly = SQLDatabaseQueue::databaseQueueWithPath(missing, SQLDatabase::kOpenReadOnly);
    ASSERT_TRUE(readOnly);
    readOnly->inDatabase([](SQLDatabase* db) {
        ASSERT_TRUE(db);
        EXPECT_FALSE(db->executeUpdate("create table t (a)"));
    });

    auto memory = SQLDatabaseQueue::databaseQueueWithPath(std::nullopt);
    ASSERT_TRUE(memory);
    memory->inDatabase([](SQLDatabase* db) { EXPECT_EQ(intForQuery(*db, "select 6 * 7"), 42); });
}

TEST_F(QueueTest, CloseThenTheNextBlockReopens) {
    queue_->inDatabase([](SQLDatabase* db) { db->executeUpdate("insert into t values (1)"); });
    queue_->close();
    queue_->inDatabase([](SQLDatabase* db) {
        ASSERT_TRUE(db);
        EXPECT_TRUE(db->isOpen());
        EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 1);
    });
    queue_->close();
    queue_->close();
}

TEST_F(QueueTest, ReopenFailureGivesTheBlockNothing) {
    auto readOnly = SQLDatabaseQueue::databaseQueueWithPath(path_, SQLDatabase::kOpenReadOnly);
    ASSERT_TRUE(readOnly);
    readOnly->close();
    std::filesystem::remove(path_);
    LogCapture log;
    bool called = false;
    readOnly->inDatabase([&](SQLDatabase* db) {
        called = true;
        EXPECT_EQ(db, nullptr);
    });
    EXPECT_TRUE(called);
    EXPECT_TRUE(log.contains("SQLDatabaseQueue could not reopen database for path " + path_));
    EXPECT_FALSE(readOnly->inTransaction([](SQLDatabase*, bool&) { FAIL() << "no connection, no block"; }));
}

TEST_F(QueueTest, WarnsAboutResultSetsLeftOpen) {
    LogCapture log;
    std::unique_ptr<SQLResultSet> leftOver;
    queue_->inDatabase([&](SQLDatabase* db) { leftOver = db->executeQuery("select 1"); });
    EXPECT_EQ(log.count("Warning: there is at least one open result set around after performing "
                        "[SQLDatabaseQueue inDatabase:]"),
              1);
    queue_->inDatabase([&](SQLDatabase*) { leftOver.reset(); });
    log.clear();
    queue_->inDatabase([&](SQLDatabase* db) {
        auto rs = db->executeQuery("select 1");
        while (rs->next()) {
        }
    });
    EXPECT_FALSE(log.contains("open result set"));
}

TEST_F(QueueTest, TransactionsCommitOrRollBack) {
    struct Case {
        const char* name;
        bool (SQLDatabaseQueue::*form)(const SQLDatabaseQueue::TransactionBlock&);
        bool rollback;
    } cases[] = {
        {"inTransaction", &SQLDatabaseQueue::inTransaction, false},
        {"inTransaction rolled back", &SQLDatabaseQueue::inTransaction, true},
        {"inExclusiveTransaction", &SQLDatabaseQueue::inExclusiveTransaction, false},
        {"inDeferredTransaction", &SQLDatabaseQueue::inDeferredTransaction, false},
        {"inDeferredTransaction rolled back", &SQLDatabaseQueue::inDeferredTransaction, true},
        {"inImmediateTransaction", &SQLDatabaseQueue::inImmediateTransaction, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int before = rows();
        bool inside = false;
        bool committed = (queue_.get()->*c.form)([&](SQLDatabase* db, bool& rollback) {
            inside = db->isInTransaction();
            db->executeUpdate("insert into t values (1)");
            db->executeUpdate("insert into t values (2)");
            rollback = c.rollback;
        });
        EXPECT_TRUE(inside);
        EXPECT_EQ(committed, !c.rollback);
        EXPECT_EQ(rows(), c.rollback ? before : before + 2);
    }
    EXPECT_FALSE(queue_->beginTransaction(7, [](SQLDatabase*, bool&) { FAIL() << "unknown kind, no block"; }));
}

TEST_F(QueueTest, FailedBeginSkipsTheBlock) {
    SQLDatabase other(path_);
    ASSERT_TRUE(other.open());
    ASSERT_TRUE(other.beginExclusiveTransaction());
    queue_->inDatabase([](SQLDatabase* db) { db->setMaxBusyRetryTimeInterval(0); });
    LogCapture log;
    bool ran = false;
    EXPECT_FALSE(queue_->inTransaction([&](SQLDatabase* db, bool&) {
        ran = true;
        db->executeUpdate("insert into t values (1)");
    }));
    EXPECT_FALSE(ran) << "the block must not write outside a transaction";
    ASSERT_TRUE(other.commit());
    queue_->inDatabase([](SQLDatabase* db) { EXPECT_FALSE(db->isInTransaction()); });
    EXPECT_EQ(rows(), 0);
}

TEST_F(QueueTest, FailedCommitIsReportedAndEndsTheTransaction) {
    // A reader holding the file keeps the commit from taking its lock.
    SQLDatabase reader(path_);
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.beginDeferredTransaction());
    ASSERT_EQ(intForQuery(reader, "select count(*) from t"), 0);
    queue_->inDatabase([](SQLDatabase* db) { db->setMaxBusyRetryTimeInterval(0); });
    LogCapture log;
    bool ran = false;
    EXPECT_FALSE(queue_->inDeferredTransaction([&](SQLDatabase* db, bool&) {
        ran = db->executeUpdate("insert into t values (1)");
    }));
    EXPECT_TRUE(ran);
    ASSERT_TRUE(reader.commit());
    queue_->inDatabase([](SQLDatabase* db) {
        EXPECT_EQ(sqlite3_get_autocommit(db->sqliteHandle()), 1) << "no transaction left open";
    });
    EXPECT_EQ(rows(), 0);
}

TEST_F(QueueTest, ABlockThatThrowsLeavesNoTransactionOpen) {
    EXPECT_THROW(queue_->inTransaction([](SQLDatabase* db, bool&) {
        db->executeUpdate("insert into t values (1)");
        throw std::runtime_error("block failed");
    }),
                 std::runtime_error);
    queue_->inDatabase([](SQLDatabase* db) { EXPECT_FALSE(db->isInTransaction()); });
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(queue_->inTransaction([](SQLDatabase* db, bool&) { db->executeUpdate("insert into t values (2)"); }));
}

TEST_F(QueueTest, SavePoints) {
    LogCapture log;
    queue_->inDatabase([](SQLDatabase* db) { db->setTraceExecution(true); });
    auto e1 = queue_->inSavePoint([](SQLDatabase* db, bool&) { db->executeUpdate("insert into t values (1)"); });
    auto e2 = queue_->inSavePoint([](SQLDatabase* db, bool& rollback) {
        db->executeUpdate("insert into t values (2)");
        rollback = true;
    });
    queue_->inDatabase([](SQLDatabase* db) { db->setTraceExecution(false); });
    EXPECT_EQ(e1, std::nullopt);
    EXPECT_EQ(e2, std::nullopt);
    EXPECT_EQ(rows(), 1);

    // Consecutive calls number their save points one apart.
    std::vector<long> numbers;
    const std::string start = "executeUpdate: savepoint 'savePoint";
    for (const auto& line : log.lines()) {
        auto at = line.find(start);
        if (at != std::string::npos) numbers.push_back(std::stol(line.substr(at + start.size())));
    }
    ASSERT_EQ(numbers.size(), 2u);
    EXPECT_EQ(numbers[1], numbers[0] + 1);
    EXPECT_EQ(log.count("rollback transaction to savepoint 'savePoint" + std::to_string(numbers[1]) + "';"), 1);
}

TEST_F(QueueTest, OtherQueuesWorkFromInsideABlock) {
    auto other = SQLDatabaseQueue::databaseQueueWithPath(freshDatabasePath("other"));
    ASSERT_TRUE(other);
    int inner = 0;
    queue_->inDatabase([&](SQLDatabase*) {
        other->inDatabase([&](SQLDatabase* db) { inner = intForQuery(*db, "select 3"); });
        other->inTransaction([&](SQLDatabase* db, bool&) { db->executeUpdate("create table x (a)"); });
    });
    EXPECT_EQ(inner, 3);
}

TEST_F(QueueTest, BlocksFromManyThreadsTakeTurns) {
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    queue_->inDatabase([](SQLDatabase* db) { ASSERT_TRUE(db->executeStatements("pragma synchronous = off")); });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                if (i % 2)
                    queue_->inDatabase([&](SQLDatabase* db) { db->executeUpdate("insert into t values (?)", {t}); });
                else
                    queue_->inTransaction(
                        [&](SQLDatabase* db, bool&) { db->executeUpdate("insert into t values (?)", {t}); });
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(rows(), kThreads * kEach);
}

TEST_F(QueueTest, InterruptAndCheckpoint) {
    queue_->inDatabase([&](SQLDatabase* db) {
        db->makeFunctionNamed("stop", 1, [&](sqlite3_context* context, int, sqlite3_value** argv) {
            queue_->interrupt();
            SQLDatabase::resultInt(SQLDatabase::valueInt(argv[0]), context);
        });
        SQLError error;
        LogCapture log;
        EXPECT_FALSE(db->executeUpdate("with recursive c(x) as (select 1 union all select x + 1 from c where x < 500) "
                                       "insert into t select stop(x) from c",
                                       SQLArguments{}, &error));
        EXPECT_EQ(error.code(), SQLITE_INTERRUPT);
        EXPECT_EQ(stringForQuery(*db, "pragma journal_mode = wal"), "wal");
        db->executeUpdate("insert into t values (1)");
    });
    int frames = -1;
    int done = -1;
    SQLError error;
    EXPECT_TRUE(queue_->checkpoint(SQLDatabase::kCheckpointFull, std::nullopt, &frames, &done, &error));
    EXPECT_GT(frames, 0);
    EXPECT_EQ(done, frames);
}

TEST_F(QueueTest, InterruptFromAnotherThreadStopsARunningStatement) {
    std::promise<void> started;
    auto running = started.get_future();
    queue_->inDatabase([&](SQLDatabase* db) {
        db->makeFunctionNamed("started", 1, [&, once = false](sqlite3_context* context, int,
                                                              sqlite3_value** argv) mutable {
            if (!once) started.set_value();
            once = true;
            SQLDatabase::resultLong(SQLDatabase::valueLong(argv[0]), context);
        });
    });
    std::thread interrupter([&] {
        running.wait();
        EXPECT_TRUE(queue_->interrupt());
    });
    SQLError error;
    LogCapture log;
    queue_->inDatabase([&](SQLDatabase* db) {
        // Endless unless interrupted.
        auto rs = db->executeQuery("with recursive c(x) as (select 1 union all select x + 1 from c) "
                                   "select started(x) from c");
        ASSERT_TRUE(rs);
        while (rs->next(&error)) {
        }
    });
    interrupter.join();
    EXPECT_EQ(error.code(), SQLITE_INTERRUPT);
    EXPECT_EQ(rows(), 0) << "the queue works on afterwards";
}

// --- Re-entry --------------------------------------------------------------

class QueueDeathTest : public QueueTest {};

TEST_F(QueueDeathTest, ReentryStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using Form = std::function<void(SQLDatabaseQueue&)>;
    const SQLDatabaseQueue::TransactionBlock noop = [](SQLDatabase*, bool&) {};
    struct Case {
        const char* name;
        Form form;
        const char* message;
    } cases[] = {
        {"inDatabase", [](SQLDatabaseQueue& q) { q.inDatabase([](SQLDatabase*) {}); },
         "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock"},
        {"inTransaction", [&](SQLDatabaseQueue& q) { q.inTransaction(noop); }, "was called reentrantly"},
        {"inDeferredTransaction", [&](SQLDatabaseQueue& q) { q.inDeferredTransaction(noop); },
         "was called reentrantly"},
        {"inImmediateTransaction", [&](SQLDatabaseQueue& q) { q.inImmediateTransaction(noop); },
         "was called reentrantly"},
        {"inSavePoint", [&](SQLDatabaseQueue& q) { q.inSavePoint(noop); }, "was called reentrantly"},
        {"close", [](SQLDatabaseQueue& q) { q.close(); }, "was called reentrantly"},
        {"checkpoint", [](SQLDatabaseQueue& q) { q.checkpoint(SQLDatabase::kCheckpointPassive); },
         "was called reentrantly"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // From inside a plain block and from inside a transaction block.
        EXPECT_DEATH(queue_->inDatabase([&](SQLDatabase*) { c.form(*queue_); }), c.message);
        EXPECT_DEATH(queue_->inTransaction([&](SQLDatabase*, bool&) { c.form(*queue_); }), c.message);
    }
    // Through another queue's block the call still comes back to this one.
    auto other = SQLDatabaseQueue::databaseQueueWithPath(std::nullopt);
    ASSERT_TRUE(other);
    EXPECT_DEATH(queue_->inDatabase([&](SQLDatabase*) {
        other->inDatabase([&](SQLDatabase*) { queue_->inDatabase([](SQLDatabase*) {}); });
    }),
                 "inDatabase: was called reentrantly");
}

} // namespace
