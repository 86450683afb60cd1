#pragma once
// The keys a double-pinyin scheme ("spScheme.plist", "KeyMaps/*.plist") types
// besides the letters: the ASCII characters of its "Special", "Sheng" and
// "Yun" keys that are no letter (";" in several published layouts). The input
// method takes them as code keys while the scheme is in use; the preferences
// application shows that it does.

#include <string>
#include <string_view>

namespace contract {

// Adds the characters of one key of a scheme's key map that are code keys
// beyond the letters, each once.
inline void addSchemeCodeKeys(std::string& keys, std::string_view mapKey) {
    for (char c : mapKey) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && c > ' ' && c < 0x7f && keys.find(c) == std::string::npos) keys += c;
    }
}

} // namespace contract
