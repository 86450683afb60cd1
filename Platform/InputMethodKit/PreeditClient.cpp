#include "Platform/InputMethodKit/PreeditClient.h"

#include "Platform/InputMethodKit/Utf16.h"

#include <algorithm>

namespace plat {

void PreeditClient::insertText(const std::string& text, TextRange) {
    // The marked text ends with the commit: hidden first, so that the client
    // never draws the letters next to what replaced them.
    marked.clear();
    markedStart_.reset();
    if (!reachable()) return;
    if (preeditShown_) {
        sendPreedit("", false);
        preeditShown_ = false;
    }
    if (text.empty()) return;
    sendCommit(text);
    before += text;
}

void PreeditClient::setMarkedText(const std::string& text, const TextAttributes&, TextRange, TextRange) {
    if (text.empty()) markedStart_.reset();
    else if (marked.empty()) markedStart_ = caret;
    marked = text;
    if (!reachable()) return;
    sendPreedit(text, !text.empty());
    preeditShown_ = !text.empty();
}

TextRange PreeditClient::selectedRange() const {
    const auto at = static_cast<std::int64_t>(utf16Length(before));
    if (!marked.empty()) return {at + static_cast<std::int64_t>(utf16Length(marked)), 0};
    if (anchorOffset16 < 0) return {at + anchorOffset16, -anchorOffset16};
    return {at, anchorOffset16};
}

TextRange PreeditClient::markedRange() const {
    if (marked.empty()) return {kNotFound, 0};
    return {static_cast<std::int64_t>(utf16Length(before)), static_cast<std::int64_t>(utf16Length(marked))};
}

std::optional<std::string> PreeditClient::stringFromRange(TextRange range, TextRange* actualRange) const {
    if (!hasSurrounding) {
        // The host knows the marked text it sent, and nothing around it.
        const TextRange m = markedRange();
        if (m.location == kNotFound || range.length <= 0 || range.location < m.location ||
            range.location - m.location > m.length || range.length > m.length - (range.location - m.location))
            return std::nullopt;
        if (actualRange) *actualRange = range;
        return utf16ToUtf8(utf8ToUtf16(marked).substr(static_cast<std::size_t>(range.location - m.location),
                                                      static_cast<std::size_t>(range.length)));
    }
    const std::u16string all = utf8ToUtf16(before + marked + after);
    const auto size = static_cast<std::int64_t>(all.size());
    const std::int64_t from = std::clamp<std::int64_t>(range.location, 0, size);
    const std::int64_t to = std::clamp<std::int64_t>(range.length < 0 ? from : from + range.length, from, size);
    if (actualRange) *actualRange = {from, to - from};
    return utf16ToUtf8(all.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)));
}

TextAttributes PreeditClient::attributesForCharacterIndex(std::int64_t, TextRect* lineHeightRectangle) const {
    if (lineHeightRectangle) *lineHeightRectangle = caret.value_or(TextRect{});
    return {};
}

std::optional<TextRect> PreeditClient::firstRectForCharacterRange(TextRange range, TextRange* actualRange) const {
    const TextRange m = markedRange();
    if (m.location == kNotFound || range.location != m.location || !markedStart_) return std::nullopt;
    if (actualRange) *actualRange = {m.location, 0};
    return TextRect{markedStart_->x, markedStart_->y, 0, markedStart_->height};
}

} // namespace plat
