#pragma once
#include "Settings/Functions/ModelManager.h"

#include <array>
#include <chrono>
#include <cstdint>

namespace kelvane {

// The key statistics page: six sums of "keys.db" (today, yesterday, this month, the month
// 30 days back, this year, all time) of key presses or of characters.
class KeyStatisticsPage {
public:
    explicit KeyStatisticsPage(ModelManager& store) : store_(store) {}

    // The six sums for `kind` on the local date `today`.
    std::array<int64_t, 6> counts(KeyLoggerType kind, std::chrono::year_month_day today) const;
    // The same for the current local date.
    std::array<int64_t, 6> counts(KeyLoggerType kind) const;
    // Empties the statistics.
    void reset();

    // Today's date in the local time zone.
    static std::chrono::year_month_day localToday();

private:
    ModelManager& store_;
};

} // namespace kelvane
