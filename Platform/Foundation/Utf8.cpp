#include "Platform/Foundation/Utf8.h"

namespace plat {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string encodeUtf8(char32_t cp) {
    std::string out;
    appendUtf8(out, cp);
    return out;
}

std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& i) {
    if (i >= text.size()) return std::nullopt;
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t len;
    char32_t cp;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        return std::nullopt; // continuation byte, C0/C1 (always overlong) or beyond F4
    }
    if (text.size() - i < len) return std::nullopt;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    i += len;
    return cp;
}

std::optional<std::vector<char32_t>> decodeUtf8(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        auto cp = nextCodePoint(text, i);
        if (!cp) return std::nullopt;
        out.push_back(*cp);
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
        } else if (!nextCodePoint(bytes, i)) {
            return false;
        }
    }
    return true;
}

} // namespace plat
