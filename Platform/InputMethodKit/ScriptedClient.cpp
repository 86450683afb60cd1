#include "Platform/InputMethodKit/ScriptedClient.h"

#include "Platform/InputMethodKit/KeyEvent.h"
#include "Platform/InputMethodKit/Utf16.h"

#include <algorithm>

namespace plat {

ScriptedClient::ScriptedClient(std::optional<std::string> bundleIdentifier)
    : bundleIdentifier_(std::move(bundleIdentifier)) {}

// Puts t where the marked text stands, else over the selection; returns where it starts.
std::int64_t ScriptedClient::replaceMarkedOrSelected(const std::u16string& t) {
    std::int64_t from = selLocation_, len = selLength_;
    if (markedLocation_ != kNotFound) {
        from = markedLocation_;
        len = markedLength_;
    }
    text_.replace(static_cast<std::size_t>(from), static_cast<std::size_t>(len), t);
    return from;
}

void ScriptedClient::insertText(const std::string& text, TextRange /*replacementRange*/) {
    logCall("insertText:" + text);
    insertions_.push_back(text);
    const std::u16string t = utf8ToUtf16(text);
    const std::int64_t from = replaceMarkedOrSelected(t);
    selLocation_ = from + static_cast<std::int64_t>(t.size());
    selLength_ = 0;
    markedLocation_ = kNotFound;
    markedLength_ = 0;
}

void ScriptedClient::typeDirectly(const std::string& text) {
    logCall("typed:" + text);
    const std::u16string t = utf8ToUtf16(text);
    text_.replace(static_cast<std::size_t>(selLocation_), static_cast<std::size_t>(selLength_), t);
    selLocation_ += static_cast<std::int64_t>(t.size());
    selLength_ = 0;
}

void ScriptedClient::setMarkedText(const std::string& text, const TextAttributes& /*attributes*/,
                                   TextRange /*selectionRange*/, TextRange /*replacementRange*/) {
    logCall("setMarkedText:" + text);
    const std::u16string t = utf8ToUtf16(text);
    const std::int64_t from = replaceMarkedOrSelected(t);
    if (t.empty()) {
        markedLocation_ = kNotFound;
        markedLength_ = 0;
        selLocation_ = from;
    } else {
        markedLocation_ = from;
        markedLength_ = static_cast<std::int64_t>(t.size());
        selLocation_ = from + markedLength_;
    }
    selLength_ = 0;
}

TextRange ScriptedClient::selectedRange() const {
    logCall("selectedRange");
    return {selLocation_, selLength_};
}

TextRange ScriptedClient::markedRange() const {
    logCall("markedRange");
    if (markedLocation_ == kNotFound) return {kNotFound, 0};
    return {markedLocation_, markedLength_};
}

std::optional<std::string> ScriptedClient::stringFromRange(TextRange range, TextRange* actualRange) const {
    logCall("stringFromRange:" + std::to_string(range.location) + "," + std::to_string(range.length));
    if (!givesText_ || range.location == kNotFound || range.location < 0 || range.length < 0)
        return std::nullopt;
    const auto size = static_cast<std::int64_t>(text_.size());
    const std::int64_t from = std::min(range.location, size);
    const std::int64_t len = std::min(range.length, size - from);
    if (actualRange) *actualRange = {from, len};
    return utf16ToUtf8(std::u16string_view(text_).substr(static_cast<std::size_t>(from),
                                                         static_cast<std::size_t>(len)));
}

TextAttributes ScriptedClient::attributesForCharacterIndex(std::int64_t index,
                                                           TextRect* lineHeightRectangle) const {
    logCall("attributesForCharacterIndex:" + std::to_string(index));
    if (lineHeightRectangle) *lineHeightRectangle = lineRect_;
    return {};
}

void ScriptedClient::setText(const std::string& text) {
    text_ = utf8ToUtf16(text);
    selLocation_ = static_cast<std::int64_t>(text_.size());
    selLength_ = 0;
    markedLocation_ = kNotFound;
    markedLength_ = 0;
}

void ScriptedClient::select(std::int64_t location, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(text_.size());
    selLocation_ = std::clamp<std::int64_t>(location, 0, size);
    selLength_ = std::clamp<std::int64_t>(length, 0, size - selLocation_);
}

void ScriptedClient::applyKeyPress(std::uint16_t keyCode) {
    logCall("keyPress:" + std::to_string(keyCode));
    const auto size = static_cast<std::int64_t>(text_.size());
    switch (keyCode) {
    case KeyCode::leftArrow:
        selLocation_ = selLength_ > 0 ? selLocation_ : std::max<std::int64_t>(0, selLocation_ - 1);
        selLength_ = 0;
        break;
    case KeyCode::rightArrow:
        selLocation_ = selLength_ > 0 ? selLocation_ + selLength_ : std::min(size, selLocation_ + 1);
        selLength_ = 0;
        break;
    case KeyCode::deleteKey:
        if (selLength_ > 0) {
            text_.erase(static_cast<std::size_t>(selLocation_), static_cast<std::size_t>(selLength_));
        } else if (selLocation_ > 0) {
            // A surrogate pair goes as one character.
            std::int64_t n = 1;
            const char16_t c = text_[static_cast<std::size_t>(selLocation_ - 1)];
            if (c >= 0xDC00 && c <= 0xDFFF && selLocation_ >= 2) n = 2;
            text_.erase(static_cast<std::size_t>(selLocation_ - n), static_cast<std::size_t>(n));
            selLocation_ -= n;
        }
        selLength_ = 0;
        break;
    case KeyCode::returnKey:
        text_.insert(static_cast<std::size_t>(selLocation_), u"\n");
        ++selLocation_;
        selLength_ = 0;
        break;
    default:
        break;
    }
}

std::string ScriptedClient::text() const { return utf16ToUtf8(text_); }

std::string ScriptedClient::markedText() const {
    if (markedLocation_ == kNotFound) return {};
    return utf16ToUtf8(std::u16string_view(text_).substr(static_cast<std::size_t>(markedLocation_),
                                                         static_cast<std::size_t>(markedLength_)));
}

std::string ScriptedClient::committedText() const {
    if (markedLocation_ == kNotFound) return text();
    std::u16string t = text_;
    t.erase(static_cast<std::size_t>(markedLocation_), static_cast<std::size_t>(markedLength_));
    return utf16ToUtf8(t);
}

void ScriptedClient::logCall(std::string call) const {
    // Drop the older half at the limit: amortised constant time per call.
    if (calls_.size() >= kCallLogLimit)
        calls_.erase(calls_.begin(), calls_.begin() + static_cast<std::ptrdiff_t>(kCallLogLimit / 2));
    calls_.push_back(std::move(call));
}

void ScriptedClient::clearLog() {
    calls_.clear();
    insertions_.clear();
}

} // namespace plat
