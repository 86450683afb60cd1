#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SQLTestSupport.h"
#include "SharedLib/sqlkit/SQLDatabaseAdditions.h"
#include "SharedLib/sqlkit/SQLDatabasePool.h"

using namespace sqlkit;
using sqlkit::test::freshDatabasePath;
using sqlkit::test::LogCapture;

namespace {

class PoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = freshDatabasePath("pool");
        pool_ = SQLDatabasePool::databasePoolWithPath(path_);
        pool_->inDatabase([](SQLDatabase* db) { ASSERT_TRUE(db->executeUpdate("create table t (a)")); });
    }
    int rows() {
        int n = -1;
        pool_->inDatabase([&](SQLDatabase* db) { n = intForQuery(*db, "select count(*) from t"); });
        return n;
    }
    std::string path_;
    std::unique_ptr<SQLDatabasePool> pool_;
};

struct RecordingDelegate : SQLDatabasePoolDelegate {
    bool accept = true;
    std::vector<SQLDatabase*> asked;
    std::vector<SQLDatabase*> added;
    bool shouldAddDatabaseToPool(SQLDatabasePool&, SQLDatabase& db) override {
        asked.push_back(&db);
        return accept;
    }
    void didAddDatabase(SQLDatabasePool&, SQLDatabase& db) override { added.push_back(&db); }
};

TEST_F(PoolTest, ReusesTheLastConnectionGivenBack) {
    auto a = pool_->db();
    auto b = pool_->db();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 2u);
    pool_->pushDatabaseBackInPool(a);
    pool_->pushDatabaseBackInPool(b);
    EXPECT_EQ(pool_->db(), b);
    EXPECT_EQ(pool_->db(), a);
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), 0u);
}

TEST_F(PoolTest, Counts) {
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), 1u) << "the set-up connection came back";
    auto a = pool_->db();
    auto b = pool_->db();
    pool_->pushDatabaseBackInPool(a);
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), 1u);
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 1u);
    EXPECT_EQ(pool_->countOfOpenDatabases(), 2u);
    pool_->releaseAllDatabases();
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), 0u);
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u);
    EXPECT_EQ(pool_->countOfOpenDatabases(), 0u);
    // A connection still held stays usable after the pool forgot it.
    EXPECT_EQ(intForQuery(*b, "select count(*) from t"), 0);
}

TEST_F(PoolTest, MaximumNumberOfConnections) {
    pool_->setMaximumNumberOfDatabasesToCreate(2);
    auto a = pool_->db();
    auto b = pool_->db();
    ASSERT_TRUE(a && b);
    LogCapture log;
    bool called = false;
    pool_->inDatabase([&](SQLDatabase* db) {
        called = true;
        EXPECT_EQ(db, nullptr);
    });
    EXPECT_TRUE(called);
    EXPECT_TRUE(log.contains("Maximum number of databases (2) has already been reached!"));
    EXPECT_FALSE(pool_->inTransaction([](SQLDatabase*, bool&) { FAIL() << "no connection, no block"; }));
    EXPECT_TRUE(pool_->inSavePoint([](SQLDatabase*, bool&) { FAIL() << "no connection, no block"; }).has_value());

    pool_->pushDatabaseBackInPool(b);
    pool_->inDatabase([&](SQLDatabase* db) { EXPECT_EQ(db, b.get()); });
}

TEST_F(PoolTest, GivingBackTwiceThrows) {
    auto a = pool_->db();
    pool_->pushDatabaseBackInPool(a);
    try {
        pool_->pushDatabaseBackInPool(a);
        FAIL() << "no exception";
    } catch (const SQLDatabasePoolException& e) {
        EXPECT_EQ(e.name(), "Database already in pool");
        EXPECT_STREQ(e.reason(), "The SQLDatabase being put back into the pool is already present in the pool");
    }
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), 1u) << "the lists are unchanged";
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u);
    pool_->pushDatabaseBackInPool(nullptr);
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), 1u);
}

TEST_F(PoolTest, DelegateIsAskedAndTold) {
    RecordingDelegate delegate;
    pool_->setDelegate(&delegate);
    auto reused = pool_->db();
    auto fresh = pool_->db();
    EXPECT_EQ(delegate.asked.size(), 2u);
    EXPECT_EQ(delegate.added, (std::vector<SQLDatabase*>{fresh.get()})) << "told only of the new connection";
    pool_->pushDatabaseBackInPool(reused);
    pool_->pushDatabaseBackInPool(fresh);

    delegate.accept = false;
    std::size_t before = pool_->countOfOpenDatabases();
    pool_->releaseAllDatabases();
    auto refused = pool_->db();
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(delegate.added.size(), 1u);
    EXPECT_LE(pool_->countOfOpenDatabases(), before);
    pool_->setDelegate(nullptr);
}

TEST(SQLDatabasePool, OpenFailure) {
    std::string missing = freshDatabasePath("missing");
    SQLDatabasePool pool(missing, SQLDatabase::kOpenReadOnly);
    LogCapture log;
    pool.inDatabase([](SQLDatabase* db) { EXPECT_EQ(db, nullptr); });
    EXPECT_TRUE(log.contains("Could not open up the database at path " + missing));
}

TEST_F(PoolTest, TransactionsAndSavePoints) {
    EXPECT_TRUE(pool_->inTransaction([](SQLDatabase* db, bool&) { db->executeUpdate("insert into t values (1)"); }));
    EXPECT_FALSE(pool_->inDeferredTransaction([](SQLDatabase* db, bool& rollback) {
        db->executeUpdate("insert into t values (2)");
        rollback = true;
    }));
    EXPECT_TRUE(pool_->inImmediateTransaction([](SQLDatabase* db, bool&) {
        EXPECT_TRUE(db->isInTransaction());
        db->executeUpdate("insert into t values (3)");
    }));
    EXPECT_EQ(pool_->inSavePoint([](SQLDatabase* db, bool& rollback) {
        db->executeUpdate("insert into t values (4)");
        rollback = true;
    }),
              std::nullopt);
    EXPECT_EQ(pool_->inSavePoint([](SQLDatabase* db, bool&) { db->executeUpdate("insert into t values (5)"); }),
              std::nullopt);
    pool_->inDatabase([](SQLDatabase* db) { EXPECT_EQ(intForQuery(*db, "select sum(a) from t"), 9); });
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u) << "every form gives its connection back";
}

TEST_F(PoolTest, ABlockThatThrowsGivesItsConnectionBack) {
    EXPECT_THROW(pool_->inDatabase([](SQLDatabase*) { throw std::runtime_error("block failed"); }),
                 std::runtime_error);
    EXPECT_THROW(pool_->inTransaction([](SQLDatabase* db, bool&) {
        db->executeUpdate("insert into t values (1)");
        throw std::runtime_error("block failed");
    }),
                 std::runtime_error);
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u);
    pool_->inDatabase([](SQLDatabase* db) { EXPECT_FALSE(db->isInTransaction()); });
    EXPECT_EQ(rows(), 0);
}

TEST_F(PoolTest, FailedBeginSkipsTheBlock) {
    SQLDatabase other(path_);
    ASSERT_TRUE(other.open());
    ASSERT_TRUE(other.beginExclusiveTransaction());
    pool_->inDatabase([](SQLDatabase* db) { db->setMaxBusyRetryTimeInterval(0); });
    LogCapture log;
    EXPECT_FALSE(pool_->inTransaction([](SQLDatabase*, bool&) { FAIL() << "BEGIN failed"; }));
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u);
    ASSERT_TRUE(other.commit());
}

TEST_F(PoolTest, ThreadsEachGetAConnection) {
    constexpr int kThreads = 4;
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                pool_->inDatabase([&](SQLDatabase* db) {
                    if (db && intForQuery(*db, "select count(*) from t") == 0) ++ok;
                });
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(ok.load(), kThreads * 20);
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u);
    EXPECT_LE(pool_->countOfCheckedInDatabases(), static_cast<std::size_t>(kThreads));
    EXPECT_EQ(rows(), 0);
}

} // namespace
