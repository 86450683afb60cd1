#include "InputMethod/TavCandidates/CandidateEnvironment.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/SharedFunctions.h"
#include "InputMethod/TextUnits.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <cstdlib>

namespace taviro {

CandidateEnvironment CandidateEnvironment::completed() const {
    CandidateEnvironment env = *this;
    if (!env.config) env.config = &ConfigManager::shared();
    if (!env.measurer) env.measurer = std::make_shared<FixedWidthMeasurer>();
    if (!env.screens) env.screens = std::make_shared<FixedScreens>();
    if (!env.appearance) env.appearance = std::make_shared<DesktopAppearance>(env.config);
    if (!env.notifications) env.notifications = &plat::NotificationCenter::defaultCenter();
    return env;
}

bool DesktopAppearance::isDark() const {
    if (const char* forced = std::getenv("TAVIRO_APPEARANCE")) return std::string(forced) == "dark";
    return isDarkAppearance(config_->settings()->skinColor, systemInterfaceStyle());
}

Size FixedWidthMeasurer::sizeToFit(const std::string& text, const Font& font) const {
    double width = 0;
    for (const char32_t c : codePoints(text)) width += c < 0x1100 ? font.pointSize * 0.5 : font.pointSize;
    return {width + 4.0, font.pointSize * 1.25};
}

Color CandidateColors::fromRgbValue(long long value) {
    return Color::rgb(static_cast<double>((value >> 16) & 0xFF) / 255.0, static_cast<double>((value >> 8) & 0xFF) / 255.0,
                      static_cast<double>(value & 0xFF) / 255.0);
}

} // namespace taviro
