#pragma once
#include "Platform/InputMethodKit/KeyEvent.h"

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

// The US keyboard layout: which key (and whether shift) types a character.
class UsKeyboard {
public:
    struct Stroke {
        std::uint16_t keyCode = 0;
        bool shift = false;
    };

    // The stroke that types the ASCII character c (space, return and tab
    // included); none for other characters.
    static std::optional<Stroke> strokeFor(char c);

    // The key-down event that types c on the US layout (shift in the flags
    // when needed, the character itself as its characters).
    static std::optional<KeyEvent> keyDownFor(char c);

    // What a key types while control is held, given what it types without:
    // the ASCII control character for a letter (either case) and for
    // "[", "\\", "]", "^" and "_" (U+0001-U+001F); everything else, digits
    // and other punctuation included, types what it types without control.
    // ("@" and "?" keep their character rather than becoming NUL and DEL.)
    static std::string controlCharacters(const std::string& typed);
};

} // namespace plat
