#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Appends the UTF-8 bytes of one code point. The caller passes a Unicode
// scalar value (at most U+10FFFF, not a surrogate).
void appendUtf8(std::string& out, char32_t cp);
std::string encodeUtf8(char32_t cp);

// Decodes the code point that starts at `i` and moves `i` past it.
// std::nullopt (with `i` unchanged) for a truncated, overlong or surrogate
// sequence, a value above U+10FFFF, or a stray continuation byte.
std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& i);

// All code points of `text`; std::nullopt when any sequence is invalid.
std::optional<std::vector<char32_t>> decodeUtf8(std::string_view text);

// True when `bytes` is well-formed UTF-8 (ASCII included).
bool isValidUtf8(std::string_view bytes);

} // namespace plat
