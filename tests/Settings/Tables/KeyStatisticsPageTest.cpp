#include "Settings/Tables/KeyStatisticsPage.h"

#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "support/TestHome.h"

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

TEST_F(KeyStatisticsPageTest, ResetEmptiesBothKinds) {
    KeyStatisticsPage page(*store_);
    page.reset();
    for (auto kind : {KeyLoggerType::key, KeyLoggerType::character})
        EXPECT_EQ(page.counts(kind, 2024y / 3 / 31), (Counts{0, 0, 0, 0, 0, 0}));
}

} // namespace
} // namespace kelvane
