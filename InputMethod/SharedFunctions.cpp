#include "InputMethod/SharedFunctions.h"

#include "InputMethod/Core/ConfigManager.h"

#include <atomic>
#include <mutex>
#include <cstdlib>
#include <string_view>

namespace taviro {
namespace {
std::atomic<bool> voiceOver{false};
std::mutex styleMutex;
std::function<std::optional<std::string>()> styleSource;
} // namespace

void setSystemInterfaceStyleSource(std::function<std::optional<std::string>()> source) {
    std::lock_guard lk(styleMutex);
    styleSource = std::move(source);
}

bool isDarkAppearance() {
    return isDarkAppearance(ConfigManager::shared().settings()->skinColor, systemInterfaceStyle());
}

bool isDarkAppearance(std::int64_t skinColor, const std::optional<std::string>& interfaceStyle) {
    if (skinColor != 0) return skinColor == 2;
    return interfaceStyle && *interfaceStyle == "Dark";
}

std::optional<std::string> systemInterfaceStyle() {
    {
        std::lock_guard lk(styleMutex);
        if (styleSource)
            if (auto style = styleSource()) return style;
    }
    const char* theme = std::getenv("GTK_THEME");
    if (!theme) return std::nullopt;
    const std::string_view t(theme);
    if (t.size() >= 5 && t.substr(t.size() - 5) == ":dark") return std::string("Dark");
    return std::nullopt;
}

std::string weekdayNames(int n) {
    static const char* const names[] = {"日", "一", "二", "三", "四", "五", "六"};
    if (n < 1 || n > 7) return {};
    return names[n - 1];
}

bool isVoiceOverOn() { return voiceOver.load(); }
void setVoiceOverOn(bool on) { voiceOver.store(on); }

} // namespace taviro
