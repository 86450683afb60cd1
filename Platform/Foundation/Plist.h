#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat {

// A property-list date, kept as seconds since 1970-01-01 UTC.
struct PlistDate {
    double secondsSince1970 = 0;
    bool operator==(const PlistDate&) const = default;
};

// One property-list value: bool, integer, real, string, data, date, array or
// dictionary. A default-constructed value is null; it becomes a dictionary on
// the first operator[](key) and an array on the first append().
class PlistValue {
public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary };
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<PlistValue>;
    using Dictionary = std::map<std::string, PlistValue, std::less<>>;

    PlistValue() = default;
    PlistValue(bool v) : v_(v) {}
    PlistValue(int v) : v_(std::int64_t{v}) {}
    PlistValue(long v) : v_(std::int64_t{v}) {}
    PlistValue(long long v) : v_(static_cast<std::int64_t>(v)) {}
    PlistValue(unsigned v) : v_(std::int64_t{v}) {}
    PlistValue(unsigned long v) : v_(static_cast<std::int64_t>(v)) {}
    PlistValue(unsigned long long v) : v_(static_cast<std::int64_t>(v)) {}
    PlistValue(double v) : v_(v) {}
    PlistValue(const char* v) : v_(std::string(v)) {}
    PlistValue(std::string v) : v_(std::move(v)) {}
    PlistValue(std::string_view v) : v_(std::string(v)) {}
    PlistValue(Data v) : v_(std::move(v)) {}
    PlistValue(PlistDate v) : v_(v) {}
    PlistValue(Array v) : v_(std::move(v)) {}
    PlistValue(Dictionary v) : v_(std::move(v)) {}

    static PlistValue array() { return PlistValue(Array{}); }
    static PlistValue dictionary() { return PlistValue(Dictionary{}); }

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed reads: std::nullopt (or nullptr) when the value has another type.
    std::optional<bool> getBool() const;
    std::optional<std::int64_t> getInteger() const;
    std::optional<double> getReal() const;
    std::optional<double> getNumber() const; // integer or real
    std::optional<std::string> getString() const;
    std::optional<Data> getData() const;
    std::optional<PlistDate> getDate() const;
    const std::string* stringPtr() const { return std::get_if<std::string>(&v_); }
    const Array* asArray() const { return std::get_if<Array>(&v_); }
    const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&v_); }

    // Typed reads with a fallback for a missing or mistyped value.
    bool asBool(bool fallback = false) const { return getBool().value_or(fallback); }
    std::int64_t asInteger(std::int64_t fallback = 0) const { return getInteger().value_or(fallback); }
    double asNumber(double fallback = 0) const { return getNumber().value_or(fallback); }
    std::string asString(std::string fallback = {}) const;

    // Dictionary and array look-ups; nullptr when absent or not a container.
    const PlistValue* find(std::string_view key) const;
    const PlistValue* at(std::size_t index) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Element count of an array or dictionary, else 0.
    std::size_t size() const;

    // Building: a null value becomes a dictionary (operator[]) or an array
    // (append); a value of another type is replaced by an empty container.
    PlistValue& operator[](const std::string& key);
    void append(PlistValue v);
    bool erase(const std::string& key);
    Array& mutableArray();
    Dictionary& mutableDictionary();

    // Deep equality: same type and equal contents.
    bool operator==(const PlistValue& other) const { return v_ == other.v_; }

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Data, PlistDate, Array,
                 Dictionary>
        v_;
};

// Parses an XML or binary property list. std::nullopt on any failure, or when
// the list holds a kind of value this type cannot carry.
std::optional<PlistValue> parsePlist(std::string_view bytes);

// Reads and parses a whole file; std::nullopt when missing or malformed.
std::optional<PlistValue> readPlistFile(const std::filesystem::path& path);
// Same, and std::nullopt as well when the root is not of the expected type.
std::optional<PlistValue> readPlistFile(const std::filesystem::path& path,
                                        PlistValue::Type expectedRoot);

// A dictionary whose values are all strings, as a map: std::nullopt when the
// file is missing or malformed, its root is not a dictionary, or any value is
// not a string.
std::optional<std::map<std::string, std::string>> readStringMapFile(const std::filesystem::path& path);
// The dictionary value of such a map.
PlistValue stringMapToPlist(const std::map<std::string, std::string>& map);

// XML text of a value (null entries inside containers are left out). Empty for
// a null root, and for a value that cannot be written faithfully: a string or
// key holding U+0000, a date that is not finite or lies outside 1901-12-13 ..
// 2069-01-19 (the writers keep dates as 32-bit seconds since 2001). The same
// holds for the binary form and for writePlistFile, which then reports why.
std::string plistToXml(const PlistValue& value);
// Binary ("bplist00") bytes of a value; empty as for plistToXml.
std::string plistToBinary(const PlistValue& value);

// Writes the XML form atomically: readers see the old file or the new one.
bool writePlistFile(const std::filesystem::path& path, const PlistValue& value,
                    std::string* error = nullptr);

} // namespace plat
