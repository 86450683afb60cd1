#include "InputMethod/TextOutput.h"

#include "InputMethod/Core/Engine/ChineseConverter.h"
#include "InputMethod/Core/Engine/LastCommittedText.h"
#include "InputMethod/Core/Settings.h"
#include "InputMethod/TextUnits.h"
#include "Platform/InputMethodKit/KeyEvent.h"
#include "Platform/InputMethodKit/SystemServices.h"
#include "Platform/InputMethodKit/TextInputClient.h"

#include <cctype>

namespace taviro {
namespace {

const void*& lastClient() {
    static const void* client = nullptr;
    return client;
}

bool isLatin(char32_t c) {
    // The class the rule always used: ASCII letters, digits and "|".
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '|';
}
bool isChinese(char32_t c) { return c >= 0x4E00 && c <= 0x9FA5; }

} // namespace

std::string TextOutput::lastCommittedText() { return taviro::lastCommittedText(); }
const void* TextOutput::lastCommittedClient() { return lastClient(); }
void TextOutput::setLastCommitted(std::string text, const void* client) {
    setLastCommittedText(std::move(text));
    lastClient() = client;
}
void TextOutput::forgetLastCommittedClient() { lastClient() = nullptr; }

std::string TextOutput::displayText(const std::string& text, std::int64_t mode, bool upperCase,
                                    const PinyinDisplay& pinyinDisplay) {
    std::string shown;
    switch (mode) {
    case 0: shown = text; break;
    case 1: shown = pinyinDisplay ? pinyinDisplay(text) : text; break;
    case 2: {
        const auto chars = userCharacters(text);
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (i > 0 && i % 2 == 0) shown += '\'';
            shown += chars[i];
        }
        break;
    }
    default: break;
    }
    return upperCase ? upperCased(shown) : shown;
}

void TextOutput::setMarkedText(const std::string& text, const std::optional<plat::TextAttributes>& attributes,
                               plat::TextInputClient* client, const Settings& settings,
                               const PinyinDisplay& pinyinDisplay) {
    if (!client) return;
    const std::string shown = displayText(text, settings.bufferDisplayMode, settings.lockUpperCase, pinyinDisplay);
    client->setMarkedText(shown, attributes.value_or(plat::TextAttributes{}), plat::TextRange::notFound(),
                          plat::TextRange::notFound());
}

bool TextOutput::needsAutoBlank(const std::string& before, const std::string& text) {
    const std::u32string b = codePoints(before);
    if (b.empty()) return false;
    const char32_t last = b.back();
    const std::u32string t = codePoints(text);
    bool hasChinese = false, hasLatin = false;
    for (char32_t c : t) {
        hasChinese = hasChinese || isChinese(c);
        hasLatin = hasLatin || isLatin(c);
    }
    if (isLatin(last) && hasChinese) return true;
    if (isChinese(last) && hasLatin) return true;
    return false;
}

std::string TextOutput::convertForCommit(const std::string& text, const Settings& settings) {
    if (!settings.s2t) return text;
    if (settings.s2tType < 0 || settings.s2tType > 3) return text;
    return ChineseConverter::convert(static_cast<int>(settings.s2tType), text);
}

void TextOutput::insertText(const std::string& text, const std::optional<plat::TextAttributes>& /*attributes*/,
                            plat::TextInputClient* client, const Settings& settings) {
    if (text.empty() || !client) return;
    std::string out = convertForCommit(text, settings);
    if (settings.autoBlank) {
        if (const auto before = textBeforeCaret(client); before && needsAutoBlank(*before, out)) out = " " + out;
    }
    if (!out.empty()) setLastCommitted(out, client);
    client->insertText(out, plat::TextRange::notFound());
}

std::optional<std::string> TextOutput::textBeforeCaret(plat::TextInputClient* client) {
    if (!client) return std::nullopt;
    const plat::TextRange marked = client->markedRange();
    std::int64_t markedLength = marked.location == plat::kNotFound ? 0 : marked.length;
    if (markedLength > 99 || markedLength < 0) markedLength = 0;
    const plat::TextRange selected = client->selectedRange();
    if (selected.location == plat::kNotFound || selected.location < 0) return std::nullopt;
    const std::int64_t caret = selected.location - markedLength;
    if (caret < 0) return std::nullopt;
    const std::int64_t start = caret > 100 ? caret - 100 : 0;
    return client->stringFromRange({start, caret - start}, nullptr);
}

void TextOutput::postSyntheticKey(int count) {
    const std::uint16_t key = count < 0 ? plat::KeyCode::leftArrow : plat::KeyCode::rightArrow;
    for (int i = 0; i < (count < 0 ? -count : count); ++i) plat::SystemServices::shared().postKeyPress(key);
}

} // namespace taviro
