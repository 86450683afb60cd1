#pragma once
#include <optional>
#include <string>

#include "SharedLib/sqlkit/SQLValue.h"

namespace sqlkit {

// Formats and parses dates in GMT with a fixed pattern of the letters
// y (year), M (month), d (day), H (hour 0-23), m (minute), s (second) and
// S (fraction of a second); a run of a letter gives its width ("yyyy-MM-dd
// HH:mm:ss"). Text in single quotes and every other character are literal.
class SQLDateFormatter {
public:
    explicit SQLDateFormatter(std::string format) : format_(std::move(format)) {}

    const std::string& dateFormat() const { return format_; }
    std::string stringFromDate(SQLDate date) const;
    std::optional<SQLDate> dateFromString(const std::string& text) const;

private:
    std::string format_;
};

} // namespace sqlkit
