#include "InputMethod/TextUnits.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>

namespace taviro {

std::vector<std::string> userCharacters(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        // Without ICU data: one code point per character.
        for (char32_t c : codePoints(text)) {
            std::string s;
            icu::UnicodeString(static_cast<UChar32>(c)).toUTF8String(s);
            out.push_back(s);
        }
        return out;
    }
    it->setText(u);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        std::string s;
        u.tempSubStringBetween(start, end).toUTF8String(s);
        out.push_back(std::move(s));
    }
    return out;
}

std::size_t userCharacterCount(std::string_view text) {
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    // CR LF is the one ASCII pair that makes a single character.
    if (ascii && text.find("\r\n") == std::string_view::npos) return text.size();
    return userCharacters(text).size();
}

std::string upperCased(std::string_view text) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    u.toUpper(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::u32string codePoints(std::string_view text) {
    std::u32string out;
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    for (int32_t i = 0; i < u.length();) {
        const UChar32 c = u.char32At(i);
        out += static_cast<char32_t>(c);
        i += U16_LENGTH(c);
    }
    return out;
}

} // namespace taviro
