#pragma once
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

// Formats moments with date-format patterns ("yyyy年M月d日", "HH:mm") on the
// Gregorian calendar, in one locale and one time zone.
//
// The locale is a language tag ("zh-CN") or an ICU name ("zh_Hans_CN"); empty
// means the user's locale. The time zone is an IANA id ("Asia/Shanghai");
// empty, or an id that is not known, means the system's zone.
// A formatter can be shared between threads.
class DateFormatter {
public:
    using Moment = std::chrono::system_clock::time_point;

    explicit DateFormatter(std::string_view locale = {}, std::string_view timeZone = {});
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    // The moment written with the pattern; "" when the pattern is invalid.
    std::string format(Moment moment, std::string_view pattern) const;

    // The weekday number of the moment: 1 (Sunday) to 7 (Saturday).
    int weekday(Moment moment) const;

    // The zone in use, e.g. "Asia/Shanghai".
    std::string timeZoneId() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
