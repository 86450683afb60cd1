#include "Settings/Pages/ColorValue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kelvane {
namespace {

int channel(double c) {
    if (!std::isfinite(c)) return 0;
    return static_cast<int>(std::clamp(c, 0.0, 1.0) * 255.0);
}

} // namespace

std::string hexString(const RGB& color) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X", channel(color.red), channel(color.green), channel(color.blue));
    return buf;
}

int64_t hexValue(const RGB& color) {
    return int64_t{channel(color.red)} << 16 | int64_t{channel(color.green)} << 8 | channel(color.blue);
}

RGB colorFromValue(int64_t value) {
    return RGB{static_cast<double>((value >> 16) & 255) / 255.0, static_cast<double>((value >> 8) & 255) / 255.0,
               static_cast<double>(value & 255) / 255.0};
}

} // namespace kelvane
