#pragma once
#include "Platform/Text/DateFormatter.h"

#include <string>
#include <string_view>

namespace taviro {

// Replaces the date and time placeholders of a custom phrase or guide-button
// text: "#yyyy" "#yy" "#MM" "#dd" "#M" "#date" "#d" "#time" "#hh" "#HH" "#mm"
// "#ss" "#h" "#H" "#m" "#s" "#E" (weekday character) and "#e" (weekday number,
// 1 = Sunday), in that order, all from one moment on the Gregorian calendar in
// locale "zh-CN". "##" writes a literal "#". A text without "#" comes back as
// it is. Safe to call from any thread.
std::string expandPhraseTemplate(std::string_view text);

// The same at a given moment, read in the given time zone (empty: the system's).
std::string expandPhraseTemplate(std::string_view text, plat::DateFormatter::Moment moment,
                                 std::string_view timeZone = {});

} // namespace taviro
