#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace taviro {

// User-perceived characters (grapheme clusters) of a UTF-8 text.
std::vector<std::string> userCharacters(std::string_view text);
// Counted without splitting: ASCII text (the typed keys) is one character a byte.
std::size_t userCharacterCount(std::string_view text);

// Full Unicode upper-case mapping ("lüe" -> "LÜE", "ß" -> "SS").
std::string upperCased(std::string_view text);

// The code points of a UTF-8 text.
std::u32string codePoints(std::string_view text);

} // namespace taviro
