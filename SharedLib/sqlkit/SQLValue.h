#pragma once
#include <chrono>
#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace sqlkit {

using SQLBlob = std::vector<std::uint8_t>;
using SQLDate = std::chrono::system_clock::time_point;

// One argument or column value. Integers of every width are held as signed
// 64-bit values (an unsigned 64-bit value keeps its bits); booleans stay
// booleans so they bind as 1 or 0.
class SQLValue {
public:
    enum class Type { Null, Bool, Integer, Real, Text, Blob, Date };

    SQLValue() = default;
    SQLValue(std::nullptr_t) {}
    SQLValue(std::nullopt_t) {}
    SQLValue(bool b) : v_(b) {}
    template <std::integral T>
        requires(!std::same_as<std::remove_cv_t<T>, bool>)
    SQLValue(T i) : v_(static_cast<std::int64_t>(i)) {}
    SQLValue(float d) : v_(static_cast<double>(d)) {}
    SQLValue(double d) : v_(d) {}
    // A null pointer is a null value.
    SQLValue(const char* s) {
        if (s) v_ = std::string(s);
    }
    SQLValue(std::string s) : v_(std::move(s)) {}
    SQLValue(std::string_view s) : v_(std::string(s)) {}
    SQLValue(SQLBlob b) : v_(std::move(b)) {}
    SQLValue(SQLDate d) : v_(d) {}
    template <typename T>
    SQLValue(const std::optional<T>& o) {
        if (o) *this = SQLValue(*o);
    }

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }

    // Plain readers; a reader of another kind converts like SQLite would
    // (text to number by its leading digits, numbers to their text).
    std::int64_t toInt64() const;
    double toDouble() const;
    std::string toText() const;
    bool toBool() const { return toInt64() != 0; }

    const bool* ifBool() const { return std::get_if<bool>(&v_); }
    const std::int64_t* ifInteger() const { return std::get_if<std::int64_t>(&v_); }
    const double* ifReal() const { return std::get_if<double>(&v_); }
    const std::string* ifText() const { return std::get_if<std::string>(&v_); }
    const SQLBlob* ifBlob() const { return std::get_if<SQLBlob>(&v_); }
    const SQLDate* ifDate() const { return std::get_if<SQLDate>(&v_); }

    // Text for trace lines: "(null)", the number, the text, "<N bytes>".
    std::string description() const;

    bool operator==(const SQLValue&) const = default;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, SQLBlob, SQLDate> v_;
};

// Positional arguments, bound to "?" placeholders in order.
using SQLArguments = std::vector<SQLValue>;
// Named arguments: key "k" binds the placeholder ":k".
using SQLNamedArguments = std::map<std::string, SQLValue>;

} // namespace sqlkit
