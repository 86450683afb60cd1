#include "Settings/Tables/KeyStatisticsPage.h"

#include <ctime>

namespace kelvane {

using namespace std::chrono;

std::array<int64_t, 6> KeyStatisticsPage::counts(KeyLoggerType kind, year_month_day today) const {
    // Yesterday and 30 days back are calendar days, whatever the length of the day.
    const year_month_day yesterday{sys_days(today) - days(1)};
    const year_month_day monthBack{sys_days(today) - days(30)};
    auto day = [&](const year_month_day& d) {
        return store_.count(kind, int(d.year()), unsigned(d.month()), unsigned(d.day()));
    };
    auto month = [&](const year_month_day& d) { return store_.count(kind, int(d.year()), unsigned(d.month())); };
    return {day(today), day(yesterday), month(today), month(monthBack), store_.count(kind, int(today.year())),
            store_.totalCount(kind)};
}

std::array<int64_t, 6> KeyStatisticsPage::counts(KeyLoggerType kind) const { return counts(kind, localToday()); }

void KeyStatisticsPage::reset() { store_.cleanKeyLogger(); }

year_month_day KeyStatisticsPage::localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return year{local.tm_year + 1900} / month{unsigned(local.tm_mon + 1)} / day{unsigned(local.tm_mday)};
}

} // namespace kelvane
