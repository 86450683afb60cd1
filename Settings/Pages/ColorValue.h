#pragma once
#include <cstdint>
#include <string>

namespace kelvane {

// A candidate text colour as the settings keep it: red × 65536 + green × 256 + blue.
struct RGB {
    double red = 0, green = 0, blue = 0; // sRGB, 0...1
};

// Six upper-case hex digits; each channel is clamped to 0...1 and truncated after × 255
// (grey 0.5 gives 7F7F7F). Non-finite channels count as 0.
std::string hexString(const RGB& color);
// hexString read as a base-16 integer.
int64_t hexValue(const RGB& color);
// The colour of a stored value (bits above 24 ignored).
RGB colorFromValue(int64_t value);

inline constexpr int64_t kBlackValue = 0;
inline constexpr int64_t kWhiteValue = 0xFFFFFF;

} // namespace kelvane
