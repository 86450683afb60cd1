#include "InputMethod/Core/Engine/EngineText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace taviro {

namespace {

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1; // a stray byte counts as one character
}

// Byte offset after the first n characters.
std::size_t offsetAfter(std::string_view text, std::size_t n) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < n && at < text.size(); ++i) {
        at += sequenceLength(static_cast<unsigned char>(text[at]));
    }
    return at < text.size() ? at : text.size();
}

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::vector<std::string> utf8Characters(std::string_view text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t len = sequenceLength(static_cast<unsigned char>(text[at]));
        if (at + len > text.size()) len = text.size() - at;
        out.emplace_back(text.substr(at, len));
        at += len;
    }
    return out;
}

std::size_t characterCount(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t at = 0; at < text.size(); ++n) at += sequenceLength(static_cast<unsigned char>(text[at]));
    return n;
}

std::string characterPrefix(std::string_view text, std::size_t n) {
    return std::string(text.substr(0, offsetAfter(text, n)));
}

std::string dropCharacters(std::string_view text, std::size_t n) {
    return std::string(text.substr(offsetAfter(text, n)));
}

std::string lastCharacter(std::string_view text) {
    auto chars = utf8Characters(text);
    return chars.empty() ? std::string() : chars.back();
}

bool containsUpperAscii(std::string_view text) {
    for (char c : text)
        if (c >= 'A' && c <= 'Z') return true;
    return false;
}

bool startsWithUpperAscii(std::string_view text) { return !text.empty() && text[0] >= 'A' && text[0] <= 'Z'; }

std::string capitalized(std::string_view text) {
    std::string out(text);
    bool wordStart = true;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            // Part of a non-ASCII character: neither a letter we change nor a break.
            wordStart = false;
            continue;
        }
        if (isAsciiAlnum(c)) {
            if (wordStart && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (!wordStart && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            wordStart = false;
        } else {
            wordStart = true;
        }
    }
    return out;
}

bool rangeOfText(std::string_view string, std::string_view text) { return string.find(text) != std::string_view::npos; }

std::vector<std::string> tokenizeChinese(TokenizerUnit unit, std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    if (unit == TokenizerUnit::paragraph) {
        // Paragraphs end after each line break.
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            end = end == std::string_view::npos ? text.size() : end + 1;
            out.emplace_back(text.substr(start, end - start));
            start = end;
        }
        return out;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale("zh_Hans_CN");
    std::unique_ptr<icu::BreakIterator> it(unit == TokenizerUnit::word
                                               ? icu::BreakIterator::createWordInstance(locale, status)
                                               : icu::BreakIterator::createSentenceInstance(locale, status));
    if (U_FAILURE(status) || !it) return out;
    const icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    it->setText(u);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        // Word units leave out runs of spaces and punctuation.
        if (unit == TokenizerUnit::word && it->getRuleStatus() == UBRK_WORD_NONE) continue;
        std::string piece;
        u.tempSubStringBetween(start, end).toUTF8String(piece);
        out.push_back(std::move(piece));
    }
    return out;
}

} // namespace taviro
