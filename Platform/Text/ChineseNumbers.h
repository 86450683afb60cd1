#pragma once
#include <cstdint>
#include <string>

namespace plat {

// The number spelled out in Chinese (locale "zh_Hans_CN"): 12 -> 十二, 7 -> 七.
// "" when the spell-out rules are unavailable.
std::string chineseNumber(std::int64_t n);

// The weekday character for a Gregorian weekday number: 1 (Sunday) -> 日,
// 2 -> 一 ... 7 -> 六; "" for any other number.
std::string weekdayCharacters(int number);

} // namespace plat
