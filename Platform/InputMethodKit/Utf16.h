#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// Number of UTF-16 code units the UTF-8 text takes.
std::size_t utf16Length(std::string_view text);

} // namespace plat
