#include "Platform/Foundation/Plist.h"

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
// Deeper nesting than this is treated as malformed.
constexpr int kMaxDepth = 512;

struct NodeDeleter {
    void operator()(plist_t p) const {
        if (p) plist_free(p);
    }
};
using Node = std::unique_ptr<void, NodeDeleter>;

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PlistValue(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return PlistValue(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PlistValue(d);
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        if (!s) return std::nullopt;
        std::string out(s);
        std::free(s);
        return PlistValue(std::move(out));
    }
    case PLIST_DATA: {
        char* d = nullptr;
        std::uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        PlistValue::Data out;
        if (d) {
            out.assign(reinterpret_cast<const std::uint8_t*>(d),
                       reinterpret_cast<const std::uint8_t*>(d) + len);
            std::free(d);
        }
        return PlistValue(std::move(out));
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return PlistValue(PlistDate{kAppleEpoch + sec + usec / 1e6});
    }
    case PLIST_ARRAY: {
        PlistValue::Array out;
        const std::uint32_t n = plist_array_get_size(node);
        out.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            auto item = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!item) return std::nullopt;
            out.push_back(std::move(*item));
        }
        return PlistValue(std::move(out));
    }
    case PLIST_DICT: {
        PlistValue::Dictionary out;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) return PlistValue(std::move(out));
        bool ok = true;
        for (;;) {
            char* key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, it, &key, &val);
            if (!val) {
                std::free(key);
                break;
            }
            auto item = key ? fromNode(val, depth + 1) : std::nullopt;
            if (!item) {
                std::free(key);
                ok = false;
                break;
            }
            out.insert_or_assign(std::string(key), std::move(*item));
            std::free(key);
        }
        std::free(it);
        if (!ok) return std::nullopt;
        return PlistValue(std::move(out));
    }
    default: // keys, UIDs and anything newer are not ours to carry
        return std::nullopt;
    }
}

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
        double rel = v.getDate()->secondsSince1970 - kAppleEpoch;
        double whole = std::floor(rel);
        if (whole < std::numeric_limits<std::int32_t>::min()) whole = std::numeric_limits<std::int32_t>::min();
        if (whole > std::numeric_limits<std::int32_t>::max()) whole = std::numeric_limits<std::int32_t>::max();
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
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    if (bytes.substr(0, 8) != "bplist00") return XmlPlistReader::read(bytes);
    // The binary parser wants a buffer of its own.
    std::string buffer(bytes);
    plist_t raw = nullptr;
    plist_from_bin(buffer.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    Node root(raw);
    if (!root) return std::nullopt;
    return fromNode(root.get(), 0);
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

std::string plistToXml(const PlistValue& value) {
    Node root(toNode(value));
    if (!root) return {};
    char* xml = nullptr;
    std::uint32_t len = 0;
    plist_to_xml(root.get(), &xml, &len);
    if (!xml) return {};
    std::string out(xml, len);
    plist_to_xml_free(xml);
    return out;
}

std::string plistToBinary(const PlistValue& value) {
    Node root(toNode(value));
    if (!root) return {};
    char* bin = nullptr;
    std::uint32_t len = 0;
    plist_to_bin(root.get(), &bin, &len);
    if (!bin) return {};
    std::string out(bin, len);
    plist_to_bin_free(bin);
    return out;
}

bool writePlistFile(const std::filesystem::path& path, const PlistValue& value, std::string* error) {
    std::string xml = plistToXml(value);
    if (xml.empty()) {
        if (error) *error = "nothing to write";
        return false;
    }
    return writeFileAtomically(path, xml, error);
}

} // namespace plat
