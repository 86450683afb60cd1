#pragma once
#include <cstdint>
#include <limits>
#include <map>
#include <string>

namespace plat {

// "No position": the location of an empty marked range and of ranges that
// leave the choice to the client.
inline constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();

// A range of a client's text, counted in UTF-16 code units.
struct TextRange {
    std::int64_t location = kNotFound;
    std::int64_t length = 0;

    static constexpr TextRange notFound() { return {kNotFound, kNotFound}; }
    bool operator==(const TextRange&) const = default;
};

// A rectangle in screen points, origin at the lower left, y up.
struct TextRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const TextRect&) const = default;
};

// Attributes of marked text, by name.
using TextAttributes = std::map<std::string, std::string>;

} // namespace plat
