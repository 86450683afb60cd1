#include "SharedLib/sqlkit/SQLValue.h"

#include <cstdlib>
#include <cstdio>

namespace sqlkit {
namespace {
double dateSeconds(SQLDate d) {
    return std::chrono::duration<double>(d.time_since_epoch()).count();
}
std::string numberText(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    // Prefer the shortest form that reads back the same.
    for (int prec = 1; prec < 17; ++prec) {
        char shortBuf[64];
        std::snprintf(shortBuf, sizeof shortBuf, "%.*g", prec, d);
        if (std::strtod(shortBuf, nullptr) == d) return shortBuf;
    }
    return buf;
}
} // namespace

std::int64_t SQLValue::toInt64() const {
    switch (type()) {
    case Type::Null: return 0;
    case Type::Bool: return *ifBool() ? 1 : 0;
    case Type::Integer: return *ifInteger();
    case Type::Real: return static_cast<std::int64_t>(*ifReal());
    case Type::Text: return std::strtoll(ifText()->c_str(), nullptr, 10);
    case Type::Blob: return 0;
    case Type::Date: return static_cast<std::int64_t>(dateSeconds(*ifDate()));
    }
    return 0;
}

double SQLValue::toDouble() const {
    switch (type()) {
    case Type::Real: return *ifReal();
    case Type::Text: return std::strtod(ifText()->c_str(), nullptr);
    case Type::Date: return dateSeconds(*ifDate());
    default: return static_cast<double>(toInt64());
    }
}

std::string SQLValue::toText() const {
    switch (type()) {
    case Type::Null: return {};
    case Type::Bool: return *ifBool() ? "1" : "0";
    case Type::Integer: return std::to_string(*ifInteger());
    case Type::Real: return numberText(*ifReal());
    case Type::Text: return *ifText();
    case Type::Blob: return std::string(ifBlob()->begin(), ifBlob()->end());
    case Type::Date: return numberText(dateSeconds(*ifDate()));
    }
    return {};
}

std::string SQLValue::description() const {
    switch (type()) {
    case Type::Null: return "(null)";
    case Type::Blob: return std::string("<").append(std::to_string(ifBlob()->size())).append(" bytes>");
    default: return toText();
    }
}

} // namespace sqlkit
