#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace taviro {

// Whether the input method's windows draw dark: "SkinColor" 2 is dark, any
// other non-zero value light, 0 follows the desktop's interface style.
bool isDarkAppearance();
bool isDarkAppearance(std::int64_t skinColor, const std::optional<std::string>& interfaceStyle);

// The desktop's interface style: what the desktop host reports ("Dark" when
// the desktop prefers dark), else "Dark" when the GTK theme asks for a dark
// variant (GTK_THEME ending in ":dark"), none otherwise.
std::optional<std::string> systemInterfaceStyle();
// The desktop host's report; an empty function removes it.
void setSystemInterfaceStyleSource(std::function<std::optional<std::string>()> source);

// Weekday number (1 = Sunday) to its Chinese character; "" out of 1-7.
std::string weekdayNames(int n);

// Whether a screen reader runs; a desktop host reports it.
bool isVoiceOverOn();
void setVoiceOverOn(bool on);

// The file names of the per-user plists ("PunctuationMapping.plist",
// "silence.plist") come from InputMethod/Core/SettingsFiles.h.

} // namespace taviro
