#pragma once
#include "Platform/Text/DateFormatter.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace taviro {

// The year written digit by digit, then "年", the month spelled out, "月", the
// day spelled out, "日": ("2026", "01", "09") -> 二〇二六年一月九日. Year
// characters that are not ASCII digits are kept; std::nullopt when month or day
// is not an ASCII decimal number.
std::optional<std::string> chineseDateDigits(std::string_view year, std::string_view month, std::string_view day);

// The texts a date command word offers at a moment, in order:
//   "sj": hh点mm分, HH:mm, HH:mm:ss
//   "rq": dd号, MM月dd日, yyyy年MM月dd日, and the date in Chinese numerals
//         (left out when the month or day cannot be read back as a number)
//   "xq": 星期 + the weekday character, then the character alone
// Any other word gives nothing. Gregorian calendar; locale and time zone empty
// mean the user's.
std::vector<std::string> dateTimeTexts(std::string_view word, plat::DateFormatter::Moment moment,
                                       std::string_view locale = {}, std::string_view timeZone = {});

} // namespace taviro
