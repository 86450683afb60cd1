#include "Platform/SunPinyin/Utf8.h"

#include "Platform/Foundation/Utf8.h"

namespace plat {

std::string utf8FromUcs4(const unsigned* codePoints, std::size_t count)
{
    std::string out;
    out.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned c = codePoints[i];
        if (c == 0)
            break;
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        appendUtf8(out, static_cast<char32_t>(c));
    }
    return out;
}

} // namespace plat
