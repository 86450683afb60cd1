#include "SharedLib/sqlkit/SQLDateFormatter.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace sqlkit {
namespace {

bool isPatternLetter(char c) {
    return c == 'y' || c == 'M' || c == 'd' || c == 'H' || c == 'm' || c == 's' || c == 'S';
}

// Splits the pattern into runs of one letter and literal text.
template <class OnField, class OnLiteral>
void walkPattern(const std::string& format, OnField onField, OnLiteral onLiteral) {
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c == '\'') {
            std::size_t end = format.find('\'', i + 1);
            if (end == i + 1) {
                onLiteral(std::string("'"));
                i += 2;
                continue;
            }
            if (end == std::string::npos) end = format.size();
            onLiteral(format.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (isPatternLetter(c)) {
            std::size_t j = i;
            while (j < format.size() && format[j] == c) ++j;
            onField(c, static_cast<int>(j - i));
            i = j;
            continue;
        }
        onLiteral(std::string(1, c));
        ++i;
    }
}

} // namespace

std::string SQLDateFormatter::stringFromDate(SQLDate date) const {
    using namespace std::chrono;
    auto since = date.time_since_epoch();
    auto secs = floor<seconds>(since);
    double fraction = duration<double>(since - secs).count();
    std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::string out;
    walkPattern(
        format_,
        [&](char letter, int width) {
            long value = 0;
            switch (letter) {
            case 'y': value = tm.tm_year + 1900; break;
            case 'M': value = tm.tm_mon + 1; break;
            case 'd': value = tm.tm_mday; break;
            case 'H': value = tm.tm_hour; break;
            case 'm': value = tm.tm_min; break;
            case 's': value = tm.tm_sec; break;
            case 'S': {
                value = static_cast<long>(std::floor(fraction * std::pow(10.0, width)));
                break;
            }
            }
            if (letter == 'y' && width == 2) value %= 100;
            char buf[32];
            std::snprintf(buf, sizeof buf, "%0*ld", width, value);
            out += buf;
        },
        [&](const std::string& literal) { out += literal; });
    return out;
}

std::optional<SQLDate> SQLDateFormatter::dateFromString(const std::string& text) const {
    std::tm tm{};
    tm.tm_year = 70;
    tm.tm_mday = 1;
    double fraction = 0;
    std::size_t pos = 0;
    bool ok = true;
    walkPattern(
        format_,
        [&](char letter, int width) {
            if (!ok) return;
            // A field of width 1 takes as many digits as there are.
            std::size_t start = pos;
            std::size_t limit = width == 1 ? text.size() : pos + width;
            while (pos < text.size() && pos < limit && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
            if (pos == start) {
                ok = false;
                return;
            }
            std::string digits = text.substr(start, pos - start);
            long value = 0;
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
            if (ec != std::errc() || end != digits.data() + digits.size() || digits.size() > 9) {
                ok = false;
                return;
            }
            switch (letter) {
            case 'y': tm.tm_year = static_cast<int>((width == 2 ? value + 2000 : value) - 1900); break;
            case 'M': tm.tm_mon = static_cast<int>(value - 1); break;
            case 'd': tm.tm_mday = static_cast<int>(value); break;
            case 'H': tm.tm_hour = static_cast<int>(value); break;
            case 'm': tm.tm_min = static_cast<int>(value); break;
            case 's': tm.tm_sec = static_cast<int>(value); break;
            case 'S': fraction = value / std::pow(10.0, static_cast<double>(digits.size())); break;
            }
        },
        [&](const std::string& literal) {
            if (!ok) return;
            if (text.compare(pos, literal.size(), literal) != 0) {
                ok = false;
                return;
            }
            pos += literal.size();
        });
    if (!ok || pos != text.size()) return std::nullopt;
    std::time_t t = timegm(&tm);
    using namespace std::chrono;
    return SQLDate(seconds(t)) + round<system_clock::duration>(duration<double>(fraction));
}

} // namespace sqlkit
