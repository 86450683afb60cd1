#include "Settings/Functions/ModelManager.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLResultSet.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

namespace {

using kelvane::CodeTable;
using kelvane::KeyLoggerType;
using kelvane::ModelManager;
using kelvane::test::kFullBracket;

CodeTable phrase(std::string code, std::string word, double weight) {
    CodeTable row;
    row.code = std::move(code);
    row.table = std::move(word);
    row.weight = weight;
    return row;
}

class ModelManagerTest : public kelvane::test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("model");
        manager_ = std::make_unique<ModelManager>(folder_);
    }

    // Rows of a query on one of the two files, each column as text ("NULL" for null).
    kelvane::test::Rows query(const char* file, const std::string& sql) {
        return kelvane::test::query(folder_ / file, sql);
    }
    void exec(const char* file, const std::string& sql) { kelvane::test::exec(folder_ / file, sql); }

    std::filesystem::path folder_;
    std::unique_ptr<ModelManager> manager_;
};

TEST_F(ModelManagerTest, ConstructionCreatesSchemaAndPostsNothing) {
    EXPECT_EQ(query("custom.db", "select name from sqlite_master order by name"),
              (std::vector<std::vector<std::string>>{{"CodeTable"}, {"CodeTable_index"}}));
    EXPECT_TRUE(manager_->loadCodeTable().empty());
    EXPECT_TRUE(posted().empty());
}

TEST_F(ModelManagerTest, InsertSetsRowidAndUpdateRewritesThatRow) {
    CodeTable a = phrase("aa", "阿", 3);
    CodeTable b = phrase("bb", "吧", 2.0);
    manager_->insertCodeTable(a);
    manager_->insertCodeTable(b);
    EXPECT_GT(a.rowid, 0);
    EXPECT_EQ(b.rowid, a.rowid + 1);

    b.code = "ba";
    b.table = "爸";
    b.weight = 7;
    manager_->updateCodeTable(b);
    const auto rows = manager_->loadCodeTable();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].code, "aa");
    EXPECT_EQ(rows[0].weight, 3.0);
    EXPECT_EQ(rows[0].rowid, a.rowid);
    EXPECT_EQ(rows[1].code, "ba");
    EXPECT_EQ(rows[1].table, "爸");
    EXPECT_EQ(rows[1].weight, 7.0);
    EXPECT_EQ(query("custom.db", "select typeof(Weight) from CodeTable where rowid=" + std::to_string(a.rowid)),
              (std::vector<std::vector<std::string>>{{"integer"}}));

    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), kFullBracket.begin(), kFullBracket.end());
    EXPECT_EQ(posted(), expected);
}

TEST_F(ModelManagerTest, RowidsAboveThirtyTwoBitsSurviveLoadAndDelete) {
    exec("custom.db", "insert into CodeTable(rowid, Code, \"Table\", Weight) values (5000000000, 'x', '叉', 1)");
    auto rows = manager_->loadCodeTable();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].rowid, 5000000000);
    manager_->deleteCodeTable(rows);
    EXPECT_TRUE(manager_->loadCodeTable().empty());
}

TEST_F(ModelManagerTest, DeleteRemovesOnlyTheGivenRows) {
    std::vector<CodeTable> rows = {phrase("a", "一", 1), phrase("b", "二", 2), phrase("c", "三", 3)};
    for (auto& r : rows) manager_->insertCodeTable(r);
    channel_->clear();
    manager_->deleteCodeTable({rows[0], rows[2]});
    manager_->deleteCodeTable({});
    const auto left = manager_->loadCodeTable();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].table, "二");
    std::vector<std::string> expected = kFullBracket;
    expected.insert(expected.end(), kFullBracket.begin(), kFullBracket.end());
    EXPECT_EQ(posted(), expected);
}

TEST_F(ModelManagerTest, BulkInsertReportsEveryTenthRecord) {
    struct Case {
        size_t count;
        bool withCallback;
        std::vector<double> expected;
    };
    const Case cases[] = {{25, true, {0.0, 0.4, 0.8}}, {25, false, {}}, {0, true, {}}, {1, true, {0.0}}};
    for (const auto& c : cases) {
        channel_->clear();
        std::vector<CodeTable> rows;
        for (size_t i = 0; i < c.count; ++i) rows.push_back(phrase(std::string("c").append(std::to_string(i)), "词", 1));
        std::vector<double> calls;
        const auto before = manager_->loadCodeTable().size();
        if (c.withCallback)
            manager_->insertCodeTable(rows, [&](double f) { calls.push_back(f); });
        else
            manager_->insertCodeTable(rows);
        EXPECT_EQ(calls, c.expected) << c.count;
        EXPECT_EQ(manager_->loadCodeTable().size(), before + c.count);
        EXPECT_EQ(posted(), kFullBracket);
    }
}

// A channel that notes, with each command, how many phrases another
// connection reads in custom.db at that moment.
class CountingChannel : public plat::RecordingCommandChannel {
public:
    explicit CountingChannel(std::function<std::string()> count) : count_(std::move(count)) {}
    void post(const plat::Command& command) override {
        RecordingCommandChannel::post(command);
        std::lock_guard lk(m_);
        timeline_.push_back(log().back() + " " + count_());
    }
    void note(const std::string& what) {
        std::lock_guard lk(m_);
        timeline_.push_back(what + " " + count_());
    }
    std::vector<std::string> timeline() const {
        std::lock_guard lk(m_);
        return timeline_;
    }

private:
    std::function<std::string()> count_;
    mutable std::mutex m_;
    std::vector<std::string> timeline_;
};

// A large import is built while the input method may go on reading the
// phrases as they were; it is told to stop only around the commit, after
// which the new phrases are there.
TEST_F(ModelManagerTest, ABulkInsertBracketsOnlyItsCommit) {
    CodeTable first = phrase("aa", "阿", 1);
    manager_->insertCodeTable(first);
    sqlkit::SQLDatabase reader((folder_ / "custom.db").string());
    ASSERT_TRUE(reader.openWithFlags(sqlkit::SQLDatabase::kOpenReadOnly));
    auto channel = std::make_shared<CountingChannel>([&reader] {
        auto rs = reader.executeQuery("select count(*) from CodeTable");
        std::string n = rs && rs->next() ? std::to_string(rs->longForColumnIndex(0)) : "unreadable";
        if (rs) rs->close();
        return n;
    });
    auto previous = kelvane::NotificationSender::setChannel(channel);

    std::vector<CodeTable> rows;
    for (int i = 0; i < 25; ++i) rows.push_back(phrase("c" + std::to_string(i), "词", 1));
    EXPECT_TRUE(manager_->insertCodeTable(rows, [&](double) { channel->note("building"); }));
    kelvane::NotificationSender::setChannel(previous);
    EXPECT_EQ(channel->timeline(),
              (std::vector<std::string>{"building 1", "building 1", "building 1", "okToUse=false 1",
                                        "closeDatabase 1", "needsReloadDBLink 26", "okToUse=true 26"}));
    // The log was folded back into the file once the bracket had closed.
    std::error_code ec;
    EXPECT_EQ(std::filesystem::file_size(folder_ / "custom.db-wal", ec), 0u);
    reader.close();
}

class KeyStatisticsTest : public ModelManagerTest {};

TEST_F(KeyStatisticsTest, EmptyFileGivesZeroAndCreatesTables) {
    EXPECT_EQ(manager_->totalCount(KeyLoggerType::key), 0);
    EXPECT_EQ(query("keys.db", "select name from sqlite_master order by name"),
              (std::vector<std::vector<std::string>>{{"Char"}, {"Key"}}));
    EXPECT_EQ(posted(), kFullBracket);
}

TEST_F(KeyStatisticsTest, SumsByPeriod) {
    manager_->totalCount(KeyLoggerType::key);  // creates the tables
    exec("keys.db",
         "insert into Key values (2018,5,1,10); insert into Key values (2018,5,2,20);"
         "insert into Key values (2018,6,1,5); insert into Key values (2019,1,1,3000000000);");
    channel_->clear();
    struct Case {
        KeyLoggerType table;
        std::vector<int64_t> period;  // year, month, day; empty for the total
        int64_t expected;
    };
    const Case cases[] = {
        {KeyLoggerType::key, {2018, 5, 2}, 20},       {KeyLoggerType::key, {2018, 5}, 30},
        {KeyLoggerType::key, {2018}, 35},             {KeyLoggerType::key, {}, 3000000035},
        {KeyLoggerType::key, {2019}, 3000000000},     {KeyLoggerType::key, {2017}, 0},
        {KeyLoggerType::character, {2018, 5, 2}, 0},  {KeyLoggerType::character, {}, 0},
    };
    std::vector<std::string> expectedPosts;
    for (const auto& c : cases) {
        int64_t got = 0;
        switch (c.period.size()) {
        case 0: got = manager_->totalCount(c.table); break;
        case 1: got = manager_->count(c.table, c.period[0]); break;
        case 2: got = manager_->count(c.table, c.period[0], c.period[1]); break;
        default: got = manager_->count(c.table, c.period[0], c.period[1], c.period[2]); break;
        }
        EXPECT_EQ(got, c.expected) << ModelManager::tableName(c.table) << " " << c.period.size();
        expectedPosts.insert(expectedPosts.end(), kFullBracket.begin(), kFullBracket.end());
    }
    EXPECT_EQ(posted(), expectedPosts);
}

TEST_F(KeyStatisticsTest, CleanEmptiesBothTables) {
    manager_->totalCount(KeyLoggerType::key);
    exec("keys.db", "insert into Key values (2018,5,1,10); insert into Char values (2018,5,1,4);");
    channel_->clear();
    manager_->cleanKeyLogger();
    EXPECT_EQ(posted(), kFullBracket);
    EXPECT_EQ(manager_->totalCount(KeyLoggerType::key), 0);
    EXPECT_EQ(manager_->totalCount(KeyLoggerType::character), 0);
    EXPECT_EQ(query("keys.db", "select name from sqlite_master order by name"),
              (std::vector<std::vector<std::string>>{{"Char"}, {"Key"}}));
}

} // namespace
