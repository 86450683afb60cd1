#include "InputMethod/Core/Engine/DateTimeTexts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;
using taviro::chineseDateDigits;
using taviro::dateTimeTexts;
using Texts = std::vector<std::string>;

TEST(DateTimeTexts, CommandWordsOnAFixedClock)
{
    // 2026-01-09 00:05:00 in Shanghai (a Friday) is 2026-01-08 16:05 UTC.
    const auto friday = sys_days{2026y / 1 / 8} + 16h + 5min;
    // 2026-12-06 15:05:09 in Shanghai, a Sunday.
    const auto sunday = sys_days{2026y / 12 / 6} + 7h + 5min + 9s;
    struct Case {
        const char* word;
        sys_seconds moment;
        Texts texts;
    } cases[] = {
        {"sj", friday, {"12点05分", "00:05", "00:05:00"}},
        {"sj", sunday, {"03点05分", "15:05", "15:05:09"}},
        {"rq", friday, {"09号", "01月09日", "2026年01月09日", "二〇二六年一月九日"}},
        {"rq", sunday, {"06号", "12月06日", "2026年12月06日", "二〇二六年十二月六日"}},
        {"xq", friday, {"星期五", "五"}},
        {"xq", sunday, {"星期日", "日"}},
        {"z", sunday, {}},
        {"SJ", sunday, {}},
        {"", sunday, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dateTimeTexts(c.word, c.moment, "zh-CN", "Asia/Shanghai"), c.texts) << c.word;
}

// A locale that writes other digits: the spelled date cannot be read back, so it is left out.
TEST(DateTimeTexts, ForeignDigitsDropTheSpelledDate)
{
    const auto moment = sys_days{2026y / 1 / 9} + 12h;
    const Texts texts = dateTimeTexts("rq", moment, "ar-EG", "UTC");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0], "09号");
}

TEST(DateTimeTexts, ChineseDateDigits)
{
    struct Case {
        const char* year;
        const char* month;
        const char* day;
        std::optional<std::string> text;
    } cases[] = {
        {"2026", "01", "09", "二〇二六年一月九日"},
        {"2026", "12", "07", "二〇二六年十二月七日"},
        {"1990", "10", "31", "一九九〇年十月三十一日"},
        {"２0x6", "1", "20", "２〇x六年一月二十日"},  // unreadable year characters stay
        {"2026", "", "09", std::nullopt},
        {"2026", "O1", "09", std::nullopt},
        {"2026", "01", "9日", std::nullopt},
        {"2026", "-1", "09", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chineseDateDigits(c.year, c.month, c.day), c.text) << c.year << "/" << c.month << "/" << c.day;
}

} // namespace
