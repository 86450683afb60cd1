#include "InputMethod/Core/Engine/DateTimeTexts.h"

#include "Platform/Text/ChineseNumbers.h"

#include <charconv>
#include <cstdint>

namespace taviro {

namespace {

std::optional<std::int64_t> asciiDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::string> chineseDateDigits(std::string_view year, std::string_view month, std::string_view day)
{
    const auto monthNumber = asciiDecimal(month);
    const auto dayNumber = asciiDecimal(day);
    if (!monthNumber || !dayNumber)
        return std::nullopt;
    static const char* const digits[] = {"〇", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
    std::string out;
    for (char c : year) {
        if (c >= '0' && c <= '9')
            out += digits[c - '0'];
        else
            out += c;
    }
    out += "年";
    out += plat::chineseNumber(*monthNumber);
    out += "月";
    out += plat::chineseNumber(*dayNumber);
    out += "日";
    return out;
}

std::vector<std::string> dateTimeTexts(std::string_view word, plat::DateFormatter::Moment moment,
                                       std::string_view locale, std::string_view timeZone)
{
    if (word != "sj" && word != "rq" && word != "xq")
        return {};
    const plat::DateFormatter formatter(locale, timeZone);
    if (word == "sj")
        return {formatter.format(moment, "hh点mm分"), formatter.format(moment, "HH:mm"),
                formatter.format(moment, "HH:mm:ss")};
    if (word == "rq") {
        std::vector<std::string> texts = {formatter.format(moment, "dd号"), formatter.format(moment, "MM月dd日"),
                                          formatter.format(moment, "yyyy年MM月dd日")};
        if (auto digits = chineseDateDigits(formatter.format(moment, "yyyy"), formatter.format(moment, "MM"),
                                            formatter.format(moment, "dd")))
            texts.push_back(std::move(*digits));
        return texts;
    }
    const std::string weekday = plat::weekdayCharacters(formatter.weekday(moment));
    return {"星期" + weekday, weekday};
}

} // namespace taviro
