#include "Platform/Foundation/Plist.h"

#include "Platform/Foundation/BinaryPlistReader.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/XmlPlistReader.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace plat {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
constexpr double kAppleEpoch = 978307200.0;
struct NodeDeleter {
    void operator()(plist_t p) const {
        if (p) plist_free(p);
    }
};
using Node = std::unique_ptr<void, NodeDeleter>;

plist_t toNode(const PlistValue& v) {
    switch (v.type()) {
    case PlistValue::Type::Null:
        return nullptr;
    case PlistValue::Type::Bool:
        return plist_new_bool(*v.getBool() ? 1 : 0);
    case PlistValue::Type::Integer:
        return plist_new_uint(static_cast<std::uint64_t>(*v.getInteger()));
    case PlistValue::Type::Real:
        return plist_new_real(*v.getReal());
    case PlistValue::Type::String:
        return plist_new_string(v.stringPtr()->c_str());
    case PlistValue::Type::Data: {
        auto d = *v.getData();
        return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case PlistValue::Type::Date: {
        // Range and finiteness are checked by writeProblem() first.
        const double rel = v.getDate()->secondsSince1970 - kAppleEpoch;
        const double whole = std::floor(rel);
        auto usec = static_cast<std::int32_t>(std::lround((rel - whole) * 1e6));
        if (usec >= 1000000) usec = 999999;
        if (usec < 0) usec = 0;
        return plist_new_date(static_cast<std::int32_t>(whole), usec);
    }
    case PlistValue::Type::Array: {
        plist_t a = plist_new_array();
        for (const auto& item : *v.asArray()) {
            if (plist_t n = toNode(item)) plist_array_append_item(a, n);
        }
        return a;
    }
    case PlistValue::Type::Dictionary: {
        plist_t d = plist_new_dict();
        for (const auto& [key, item] : *v.asDictionary()) {
            if (plist_t n = toNode(item)) plist_dict_set_item(d, key.c_str(), n);
        }
        return d;
    }
    }
    return nullptr;
}

// Why libplist cannot write a value faithfully: its strings end at the first
// NUL and its dates are whole seconds since 2001 in 32 bits. Empty when it can.
std::string writeProblem(const PlistValue& v) {
    switch (v.type()) {
    case PlistValue::Type::String:
        return v.stringPtr()->find('\0') == std::string::npos ? std::string() : "a string holds U+0000";
    case PlistValue::Type::Date: {
        const double rel = v.getDate()->secondsSince1970 - kAppleEpoch;
        if (!std::isfinite(rel)) return "a date is not a number";
        const double whole = std::floor(rel);
        if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max())
            return "a date lies outside 1901-12-13 .. 2069-01-19";
        return {};
    }
    case PlistValue::Type::Array:
        for (const auto& item : *v.asArray())
            if (auto why = writeProblem(item); !why.empty()) return why;
        return {};
    case PlistValue::Type::Dictionary:
        for (const auto& [key, item] : *v.asDictionary()) {
            if (key.find('\0') != std::string::npos) return "a key holds U+0000";
            if (auto why = writeProblem(item); !why.empty()) return why;
        }
        return {};
    default:
        return {};
    }
}

// Bytes of a value through one of libplist's writers; empty for a null root or
// when the writer gives nothing back.
template <typename Write, typename Release>
std::string serialize(const PlistValue& value, Write write, Release release) {
    if (!writeProblem(value).empty()) return {};
    Node root(toNode(value));
    if (!root) return {};
    char* bytes = nullptr;
    std::uint32_t len = 0;
    write(root.get(), &bytes, &len);
    if (!bytes) return {};
    std::string out(bytes, len);
    release(bytes);
    return out;
}

} // namespace

std::optional<bool> PlistValue::getBool() const {
    if (auto p = std::get_if<bool>(&v_)) return *p;
    return std::nullopt;
}
std::optional<std::int64_t> PlistValue::getInteger() const {
    if (auto p = std::get_if<std::int64_t>(&v_)) return *p;
    return std::nullopt;
}
std::optional<double> PlistValue::getReal() const {
    if (auto p = std::get_if<double>(&v_)) return *p;
    return std::nullopt;
}
std::optional<double> PlistValue::getNumber() const {
    if (auto p = std::get_if<double>(&v_)) return *p;
    if (auto p = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*p);
    return std::nullopt;
}
std::optional<std::string> PlistValue::getString() const {
    if (auto p = std::get_if<std::string>(&v_)) return *p;
    return std::nullopt;
}
std::optional<PlistValue::Data> PlistValue::getData() const {
    if (auto p = std::get_if<Data>(&v_)) return *p;
    return std::nullopt;
}
std::optional<PlistDate> PlistValue::getDate() const {
    if (auto p = std::get_if<PlistDate>(&v_)) return *p;
    return std::nullopt;
}
std::string PlistValue::asString(std::string fallback) const {
    if (auto p = std::get_if<std::string>(&v_)) return *p;
    return fallback;
}

const PlistValue* PlistValue::find(std::string_view key) const {
    auto d = std::get_if<Dictionary>(&v_);
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}
const PlistValue* PlistValue::at(std::size_t index) const {
    auto a = std::get_if<Array>(&v_);
    if (!a || index >= a->size()) return nullptr;
    return &(*a)[index];
}
std::size_t PlistValue::size() const {
    if (auto a = std::get_if<Array>(&v_)) return a->size();
    if (auto d = std::get_if<Dictionary>(&v_)) return d->size();
    return 0;
}

PlistValue::Array& PlistValue::mutableArray() {
    if (!std::holds_alternative<Array>(v_)) v_ = Array{};
    return std::get<Array>(v_);
}
PlistValue::Dictionary& PlistValue::mutableDictionary() {
    if (!std::holds_alternative<Dictionary>(v_)) v_ = Dictionary{};
    return std::get<Dictionary>(v_);
}
PlistValue& PlistValue::operator[](const std::string& key) { return mutableDictionary()[key]; }
void PlistValue::append(PlistValue v) { mutableArray().push_back(std::move(v)); }
bool PlistValue::erase(const std::string& key) {
    auto d = std::get_if<Dictionary>(&v_);
    return d && d->erase(key) > 0;
}

std::optional<PlistValue> parsePlist(std::string_view bytes) {
    if (bytes.substr(0, 8) == "bplist00") return BinaryPlistReader::read(bytes);
    return XmlPlistReader::read(bytes);
}

std::optional<PlistValue> readPlistFile(const std::filesystem::path& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    return parsePlist(*bytes);
}

std::optional<PlistValue> readPlistFile(const std::filesystem::path& path,
                                        PlistValue::Type expectedRoot) {
    auto v = readPlistFile(path);
    if (!v || v->type() != expectedRoot) return std::nullopt;
    return v;
}

std::optional<std::map<std::string, std::string>> readStringMapFile(const std::filesystem::path& path) {
    auto root = readPlistFile(path, PlistValue::Type::Dictionary);
    if (!root) return std::nullopt;
    std::map<std::string, std::string> map;
    for (const auto& [key, value] : *root->asDictionary()) {
        const std::string* text = value.stringPtr();
        if (!text) return std::nullopt;
        map.emplace(key, *text);
    }
    return map;
}

PlistValue stringMapToPlist(const std::map<std::string, std::string>& map) {
    PlistValue::Dictionary dict;
    for (const auto& [key, value] : map) dict.emplace(key, PlistValue(value));
    return PlistValue(std::move(dict));
}

std::string plistToXml(const PlistValue& value) {
    return serialize(value, plist_to_xml, plist_to_xml_free);
}

std::string plistToBinary(const PlistValue& value) {
    return serialize(value, plist_to_bin, plist_to_bin_free);
}

bool writePlistFile(const std::filesystem::path& path, const PlistValue& value, std::string* error) {
    if (auto why = writeProblem(value); !why.empty()) {
        if (error) *error = "cannot be written faithfully: " + why;
        return false;
    }
    std::string xml = plistToXml(value);
    if (xml.empty()) {
        if (error) *error = "nothing to write";
        return false;
    }
    return writeFileAtomically(path, xml, error);
}

} // namespace plat
