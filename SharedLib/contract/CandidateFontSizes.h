#pragma once
// The candidate font sizes: the sizes the input method's candidate windows are
// laid out for, and so the only sizes the preferences application offers and
// sends with "setFontSize". Points, ascending.

#include <array>

namespace contract {

inline constexpr std::array<int, 5> kCandidateFontSizes = {14, 16, 18, 24, 32};

} // namespace contract
