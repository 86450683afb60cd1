#pragma once
#include "Platform/InputMethodKit/KeyEvent.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace taviro {

// Virtual key code (decimal text) -> the key's characters on the US layout:
// first without shift, last with shift.
using VkToUSTable = std::map<std::string, std::string, std::less<>>;

// The bundle's "vk_to_us.plist", loaded on first successful use and kept;
// an empty table (and another try next time) when it cannot be read.
std::shared_ptr<const VkToUSTable> vkToUSTable();

// The character the event's key types on the US layout, by shift and caps
// lock; the event's own characters when the key has no entry (or an empty one).
std::optional<std::string> keyEventToUSCharacter(const plat::KeyEvent& event);
std::optional<std::string> keyEventToUSCharacter(const plat::KeyEvent& event, const VkToUSTable& table);

} // namespace taviro
