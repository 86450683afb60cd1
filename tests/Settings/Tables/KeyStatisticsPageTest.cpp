#include "Settings/Tables/KeyStatisticsPage.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Platform/Foundation/Log.h"
#include "support/ChildProcess.h"
#include "support/TestHome.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace kelvane {
namespace {

using namespace std::chrono;
using namespace kelvane::test;
using Counts = std::array<int64_t, 6>;

class KeyStatisticsPageTest : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("keys");
        store_ = std::make_unique<ModelManager>(folder_);
        store_->totalCount(KeyLoggerType::key); // creates the tables
        exec(folder_ / "keys.db",
             "insert into Key values (2024,2,29,1); insert into Key values (2024,3,1,10);"
             "insert into Key values (2024,3,30,100); insert into Key values (2024,3,31,1000);"
             "insert into Key values (2023,12,31,10000); insert into Char values (2024,3,31,7);");
        channel_->clear();
    }
    std::filesystem::path folder_;
    std::unique_ptr<ModelManager> store_;
};

TEST_F(KeyStatisticsPageTest, PeriodsFollowTheCalendar) {
    KeyStatisticsPage page(*store_);
    struct Case {
        year_month_day today;
        KeyLoggerType kind;
        Counts counts;
    } cases[] = {
        // The first of a month: yesterday is the last day of the month before (30 days back is January).
        {2024y / 3 / 1, KeyLoggerType::key, {10, 1, 1110, 0, 1111, 11111}},
        // 31 March: 30 days back is 1 March; on 30 March it is 29 February.
        {2024y / 3 / 31, KeyLoggerType::key, {1000, 100, 1110, 1110, 1111, 11111}},
        {2024y / 3 / 30, KeyLoggerType::key, {100, 0, 1110, 1, 1111, 11111}},
        // New year's day: yesterday is in the year before.
        {2024y / 1 / 1, KeyLoggerType::key, {0, 10000, 0, 10000, 1111, 11111}},
        {2024y / 3 / 31, KeyLoggerType::character, {7, 0, 7, 7, 7, 7}},
    };
    for (const auto& c : cases) EXPECT_EQ(page.counts(c.kind, c.today), c.counts) << int(c.today.year()) << unsigned(c.today.month()) << unsigned(c.today.day());
}

// keys.db counts what the user typed: made 0600 under umask 022 (its WAL
// files take its mode), and one an earlier version made 0644 is closed to others.
TEST(KeyStatisticsFile, IsTheUsersAlone) {
    const mode_t oldMask = ::umask(022);
    for (const bool earlier : {false, true}) {
        const auto folder = taviro::test::freshDir("keys-mode");
        const auto file = folder / "keys.db";
        if (earlier) {
            exec(file, "create table t (x int);");
            std::filesystem::permissions(file, std::filesystem::perms(0644));
        }
        ModelManager store(folder);
        store.totalCount(KeyLoggerType::key);
        EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(file).permissions() & std::filesystem::perms::all),
                  0600u)
            << (earlier ? "earlier file" : "new file");
    }
    ::umask(oldMask);
}

TEST_F(KeyStatisticsPageTest, ResetEmptiesBothKinds) {
    KeyStatisticsPage page(*store_);
    page.reset();
    for (auto kind : {KeyLoggerType::key, KeyLoggerType::character})
        EXPECT_EQ(page.counts(kind, 2024y / 3 / 31), (Counts{0, 0, 0, 0, 0, 0}));
}

#ifdef STORE_CHILD
// The input method runs as a second process with keys.db open and writes
// counts: the page reads and resets them at once, and no count is lost or
// added twice when the page holds the file at the moment of a write.
TEST(KeyStatisticsAcrossProcesses, ThePageReadsAndResetsWhileTheInputMethodRuns) {
    // Far below the seconds a held lock made the page wait.
    constexpr auto kBound = milliseconds(250);
    auto channel = std::make_shared<plat::RecordingCommandChannel>();
    auto previous = NotificationSender::setChannel(channel);
    const auto folder = taviro::test::freshDir("keys-two-programs");
    const auto bundle = taviro::test::freshDir("keys-bundle");
    taviro::test::ChildProcess inputMethod(STORE_CHILD, {"store", folder.string(), bundle.string()});
    ASSERT_EQ(inputMethod.nextLine(), "ready");
    ASSERT_EQ(inputMethod.ask("log 5"), "logged 1");
    ASSERT_EQ(inputMethod.ask("char 2"), "logged 1");

    plat::LogCapture log;
    ModelManager store(folder);
    KeyStatisticsPage page(store);
    auto timed = [&](auto&& what) {
        const auto start = steady_clock::now();
        what();
        return steady_clock::now() - start;
    };
    Counts keys{}, chars{};
    EXPECT_LT(timed([&] { keys = page.counts(KeyLoggerType::key); }), kBound);
    EXPECT_EQ(keys[0], 5);
    EXPECT_EQ(keys[5], 5);
    chars = page.counts(KeyLoggerType::character);
    EXPECT_EQ(chars[0], 2);

    // Counts written after a read are seen by the next one.
    ASSERT_EQ(inputMethod.ask("log 7"), "logged 1");
    EXPECT_EQ(page.counts(KeyLoggerType::key)[5], 12);

    EXPECT_LT(timed([&] { page.reset(); }), kBound);
    for (auto kind : {KeyLoggerType::key, KeyLoggerType::character})
        EXPECT_EQ(page.counts(kind), (Counts{0, 0, 0, 0, 0, 0}));

    // The input method goes on counting into the emptied tables.
    ASSERT_EQ(inputMethod.ask("log 3"), "logged 1");
    EXPECT_EQ(page.counts(KeyLoggerType::key)[5], 3);

    // While this program holds the file, the input method's write gives up at
    // once and adds nothing (its key logger keeps the count); tried again, it
    // is added exactly once.
    {
        sqlite3* holder = nullptr;
        ASSERT_EQ(sqlite3_open((folder / "keys.db").c_str(), &holder), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE; UPDATE \"Key\" SET count = count", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        const auto start = steady_clock::now();
        EXPECT_EQ(inputMethod.ask("log 4"), "logged 0");
        EXPECT_LT(steady_clock::now() - start, kBound);
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
    }
    EXPECT_EQ(page.counts(KeyLoggerType::key)[5], 3);
    ASSERT_EQ(inputMethod.ask("log 4"), "logged 1");
    EXPECT_EQ(page.counts(KeyLoggerType::key)[5], 7);

    EXPECT_FALSE(log.contains("no such table")) << ::testing::PrintToString(log.lines());
    EXPECT_FALSE(log.contains("locked")) << ::testing::PrintToString(log.lines());
    inputMethod.send("quit");
    EXPECT_EQ(inputMethod.wait(std::chrono::seconds(20)), 0);
    NotificationSender::setChannel(previous);
}
#endif

} // namespace
} // namespace kelvane
