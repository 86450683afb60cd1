#pragma once
#include <cstddef>
#include <string>

namespace plat {

// UTF-8 text of a run of UCS-4 code points. Surrogates and values above
// U+10FFFF become U+FFFD; a NUL code point ends the text.
std::string utf8FromUcs4(const unsigned* codePoints, std::size_t count);

} // namespace plat
