#include "InputMethod/Core/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace taviro {
namespace {

int channel(double component) {
    if (!(component > 0.0)) return 0; // also NaN
    const double scaled = std::trunc(component * 255.0);
    return scaled >= 255.0 ? 255 : static_cast<int>(scaled);
}

} // namespace

std::string Color::hexString() const {
    if (components_.empty()) return {};
    const bool hasRgb = components_.size() >= 4;
    const int red = channel(components_[0]);
    const int green = channel(hasRgb ? components_[1] : components_[0]);
    const int blue = channel(hasRgb ? components_[2] : components_[0]);
    char text[7];
    std::snprintf(text, sizeof text, "%02X%02X%02X", red, green, blue);
    return text;
}

} // namespace taviro
