#pragma once
#include "SharedLib/contract/CandidateFontSizes.h"

#include <cstdint>
#include <optional>

namespace taviro {

// The candidate font size; only these raw values make a case.
enum class FontSize : int { s14 = 14, s16 = 16, s18 = 18, s24 = 24, s32 = 32 };

// The cases are the sizes the preferences application offers.
static_assert(contract::kCandidateFontSizes ==
              std::array<int, 5>{static_cast<int>(FontSize::s14), static_cast<int>(FontSize::s16),
                                 static_cast<int>(FontSize::s18), static_cast<int>(FontSize::s24),
                                 static_cast<int>(FontSize::s32)});

constexpr std::optional<FontSize> fontSizeFromRaw(std::int64_t raw) {
    switch (raw) {
    case 14: return FontSize::s14;
    case 16: return FontSize::s16;
    case 18: return FontSize::s18;
    case 24: return FontSize::s24;
    case 32: return FontSize::s32;
    default: return std::nullopt;
    }
}

// The configured "FontSize" as a case: the nearest offered size.
constexpr FontSize nearestFontSize(std::int64_t raw) {
    return *fontSizeFromRaw(contract::nearestCandidateFontSize(raw));
}

} // namespace taviro
