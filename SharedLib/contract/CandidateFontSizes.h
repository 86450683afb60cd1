#pragma once
// The candidate font sizes: the sizes the input method's candidate windows are
// laid out for, and so the only sizes the preferences application offers and
// sends with "setFontSize". Points, ascending.

#include <array>
#include <cstdint>

namespace contract {

inline constexpr std::array<int, 5> kCandidateFontSizes = {14, 16, 18, 24, 32};

// The offered size nearest to a stored one (an earlier version saved others);
// halfway between two sizes, the larger. Both programs read "FontSize" so.
constexpr int nearestCandidateFontSize(std::int64_t points) {
    if (points <= kCandidateFontSizes.front()) return kCandidateFontSizes.front();
    if (points >= kCandidateFontSizes.back()) return kCandidateFontSizes.back();
    int best = kCandidateFontSizes.front();
    for (int size : kCandidateFontSizes) {
        const std::int64_t distance = points > size ? points - size : size - points;
        const std::int64_t bestDistance = points > best ? points - best : best - points;
        if (distance <= bestDistance) best = size;
    }
    return best;
}

} // namespace contract
