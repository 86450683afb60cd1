#include "Platform/Foundation/Log.h"
#include "Platform/Text/ChineseNumbers.h"
#include "Platform/Text/DateFormatter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono;
using plat::DateFormatter;

// A UTC wall-clock moment.
DateFormatter::Moment utc(int y, unsigned mo, unsigned d, int h, int mi, int s)
{
    return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

TEST(DateFormatter, PatternsOnAFixedClock)
{
    struct Case {
        const char* zone;
        DateFormatter::Moment moment;
        const char* pattern;
        const char* text;
    } cases[] = {
        // 2026-12-07 09:05:03 in Shanghai is 01:05:03 UTC.
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "yyyy年M月d日", "2026年12月7日"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "yyyy", "2026"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "yy", "26"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "MM月dd日", "12月07日"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "H:m", "9:5"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "HH:mm:ss", "09:05:03"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "hh点mm分", "09点05分"},
        {"Asia/Shanghai", utc(2026, 12, 7, 1, 5, 3), "h m s", "9 5 3"},
        // The same instant read in UTC.
        {"UTC", utc(2026, 12, 7, 1, 5, 3), "yyyy年M月d日 H:m", "2026年12月7日 1:5"},
        // Shanghai's midnight hour is the previous day in UTC; the 12-hour clock writes 12.
        {"Asia/Shanghai", utc(2026, 1, 8, 16, 5, 0), "hh点mm分", "12点05分"},
        {"Asia/Shanghai", utc(2026, 1, 8, 16, 5, 0), "HH:mm", "00:05"},
        {"Asia/Shanghai", utc(2026, 1, 8, 16, 5, 0), "dd号", "09号"},
        {"Asia/Shanghai", utc(2026, 1, 8, 16, 5, 0), "yyyy年MM月dd日", "2026年01月09日"},
        {"Asia/Shanghai", utc(2026, 12, 7, 13, 0, 0), "hh", "09"},
        // Quoted text and plain text pass through.
        {"UTC", utc(2026, 12, 7, 1, 5, 3), "'at' H", "at 1"},
        {"UTC", utc(2026, 12, 7, 1, 5, 3), "", ""},
    };
    for (const auto& c : cases) {
        DateFormatter formatter("zh-CN", c.zone);
        EXPECT_EQ(formatter.format(c.moment, c.pattern), c.text) << c.zone << " " << c.pattern;
    }
}

// Other locales and calendars must not change the year or the digits of a zh-CN formatter,
// and a locale whose default calendar is not Gregorian still gets the Gregorian year.
TEST(DateFormatter, GregorianWhateverTheLocale)
{
    const auto moment = utc(2026, 12, 7, 1, 5, 3);
    for (const char* locale : {"zh-CN", "zh_Hans_CN", "en-US", "th-TH", "ja-JP-u-ca-japanese"}) {
        DateFormatter formatter(locale, "UTC");
        EXPECT_EQ(formatter.format(moment, "yyyy"), "2026") << locale;
        EXPECT_EQ(formatter.weekday(moment), 2) << locale;
    }
}

TEST(DateFormatter, WeekdayNumbers)
{
    struct Case {
        const char* zone;
        DateFormatter::Moment moment;
        int weekday;
    } cases[] = {
        {"UTC", utc(2026, 12, 6, 12, 0, 0), 1},            // Sunday
        {"UTC", utc(2026, 12, 7, 12, 0, 0), 2},            // Monday
        {"UTC", utc(2026, 12, 12, 23, 59, 59), 7},         // Saturday
        {"Asia/Shanghai", utc(2026, 12, 12, 16, 0, 0), 1}, // already Sunday in Shanghai
        {"America/New_York", utc(2026, 12, 7, 3, 0, 0), 1},// still Sunday in New York
    };
    for (const auto& c : cases) {
        DateFormatter formatter("zh-CN", c.zone);
        EXPECT_EQ(formatter.weekday(c.moment), c.weekday) << c.zone;
    }
}

TEST(DateFormatter, UnknownTimeZoneFallsBackToTheSystemZone)
{
    plat::LogCapture log;
    DateFormatter unknown("zh-CN", "Nowhere/Atlantis");
    EXPECT_TRUE(log.contains("Unknown time zone Nowhere/Atlantis"));
    DateFormatter system("zh-CN");
    EXPECT_EQ(unknown.timeZoneId(), system.timeZoneId());
    EXPECT_EQ(DateFormatter("zh-CN", "Asia/Shanghai").timeZoneId(), "Asia/Shanghai");
}

TEST(DateFormatter, SharedBetweenThreads)
{
    DateFormatter formatter("zh-CN", "UTC");
    const auto a = utc(2026, 12, 7, 1, 5, 3);
    const auto b = utc(2025, 3, 14, 22, 40, 59);
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if ((i + t) % 2 == 0) {
                    if (formatter.format(a, "yyyy-MM-dd HH:mm:ss") != "2026-12-07 01:05:03")
                        ++wrong[t];
                } else if (formatter.format(b, "yy/M/d H:m:s") != "25/3/14 22:40:59" || formatter.weekday(b) != 6) {
                    ++wrong[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(ChineseNumbers, SpellOut)
{
    struct Case {
        std::int64_t n;
        const char* text;
    } cases[] = {
        {0, "〇"}, {1, "一"}, {7, "七"}, {10, "十"}, {12, "十二"}, {20, "二十"}, {31, "三十一"}, {105, "一百〇五"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::chineseNumber(c.n), c.text) << c.n;
}

TEST(ChineseNumbers, WeekdayCharacters)
{
    const char* expected[] = {"", "日", "一", "二", "三", "四", "五", "六", ""};
    for (int n = 0; n <= 8; ++n)
        EXPECT_EQ(plat::weekdayCharacters(n), expected[n]) << n;
    EXPECT_EQ(plat::weekdayCharacters(-1), "");
}

} // namespace
