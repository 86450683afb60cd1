#pragma once
#include <string>
#include <string_view>

namespace taviro::storesql {

// An identifier in double quotes, inner double quotes doubled.
inline std::string quoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

} // namespace taviro::storesql
