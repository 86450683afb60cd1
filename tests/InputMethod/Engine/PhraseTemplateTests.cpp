#include "InputMethod/Core/PhraseTemplate.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono;
using taviro::expandPhraseTemplate;

// 2026-12-07 09:05:03 in Shanghai, a Monday.
const auto kMonday = sys_days{2026y / 12 / 7} + 1h + 5min + 3s;
// 2026-12-06 21:40:59 in Shanghai, a Sunday.
const auto kSunday = sys_days{2026y / 12 / 6} + 13h + 40min + 59s;

TEST(PhraseTemplate, Placeholders)
{
    struct Case {
        const char* text;
        const char* monday;
        const char* sunday;
    } cases[] = {
        {"#yyyy", "2026", "2026"},
        {"#yy", "26", "26"},
        {"#MM", "12", "12"},
        {"#dd", "07", "06"},
        {"#M", "12", "12"},
        {"#date", "2026年12月7日", "2026年12月6日"},
        {"#d", "7", "6"},
        {"#time", "9:5", "21:40"},
        {"#hh", "09", "09"},
        {"#HH", "09", "21"},
        {"#mm", "05", "40"},
        {"#ss", "03", "59"},
        {"#h", "9", "9"},
        {"#H", "9", "21"},
        {"#m", "5", "40"},
        {"#s", "3", "59"},
        {"#E", "一", "日"},
        {"#e", "2", "1"},
        {"#yyyy年#M月#d日", "2026年12月7日", "2026年12月6日"},
        {"#yyyy-#MM-#dd #HH:#mm:#ss 星期#E", "2026-12-07 09:05:03 星期一", "2026-12-06 21:40:59 星期日"},
        // A longer placeholder is never read as its prefix, nor the other way round.
        {"#MMM", "12M", "12M"},
        {"#hhh", "09h", "09h"},
        {"#yyyyy", "2026y", "2026y"},
        {"#dated", "2026年12月7日d", "2026年12月6日d"},
        // Escapes and text that is no placeholder.
        {"##yyyy", "#yyyy", "#yyyy"},
        {"###yyyy", "#2026", "#2026"},
        {"##", "#", "#"},
        {"#", "#", "#"},
        {"#x #Y #", "#x #Y #", "#x #Y #"},
        {"a{-#-}b", "a#b", "a#b"},
        {"no placeholder", "no placeholder", "no placeholder"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(expandPhraseTemplate(c.text, kMonday, "Asia/Shanghai"), c.monday) << c.text;
        EXPECT_EQ(expandPhraseTemplate(c.text, kSunday, "Asia/Shanghai"), c.sunday) << c.text;
    }
}

TEST(PhraseTemplate, TimeZoneDecidesTheDate)
{
    // 2026-12-06 20:00 UTC is already Monday 04:00 in Shanghai.
    const auto moment = sys_days{2026y / 12 / 6} + 20h;
    EXPECT_EQ(expandPhraseTemplate("#date #H #E", moment, "UTC"), "2026年12月6日 20 日");
    EXPECT_EQ(expandPhraseTemplate("#date #H #E", moment, "Asia/Shanghai"), "2026年12月7日 4 一");
}

TEST(PhraseTemplate, NowUsesTheCurrentYear)
{
    const std::string year = expandPhraseTemplate("#yyyy");
    ASSERT_EQ(year.size(), 4u);
    EXPECT_GE(std::stoi(year), 2024);
    EXPECT_EQ(expandPhraseTemplate("plain"), "plain");
}

} // namespace
