#pragma once
#include "Platform/Foundation/Plist.h"

#include <optional>
#include <string_view>

namespace plat {

// A strict reader of XML property lists: malformed markup, unknown elements,
// a key without a value or a number that does not parse make the whole read
// fail, where the library parser would guess.
class XmlPlistReader {
public:
    static std::optional<PlistValue> read(std::string_view text);
};

} // namespace plat
