#include "Settings/Editors/ExtraCodesController.h"

#include "Settings/ConfigManager.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>
#include <set>
#include <vector>

namespace kelvane {
namespace {

// The text cut into user-perceived characters; code points when ICU has no iterator.
std::vector<std::string> graphemes(const std::string& text) {
    std::vector<std::string> out;
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        for (int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1)) {
            std::string s;
            u.tempSubStringBetween(i, u.moveIndex32(i, 1)).toUTF8String(s);
            out.push_back(std::move(s));
        }
        return out;
    }
    it->setText(u);
    for (int32_t start = it->first(), end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        std::string s;
        u.tempSubStringBetween(start, end).toUTF8String(s);
        out.push_back(std::move(s));
    }
    return out;
}

bool isAsciiLetter(const std::string& c) {
    return c.size() == 1 && ((c[0] >= 'a' && c[0] <= 'z') || (c[0] >= 'A' && c[0] <= 'Z'));
}

} // namespace

const std::array<ExtraCodesController::Box, 5>& ExtraCodesController::boxes() {
    static const std::array<Box, 5> kBoxes = {{
        {1, "fh", ";"},
        {2, "yh", "'"},
        {3, "dh", ","},
        {4, "jh", "."},
        {5, "xg", "/"},
    }};
    return kBoxes;
}

const std::string ExtraCodesController::kHelp =
    "在此输入需要进 Buffer 的额外字符\n"
    "比如分号、逗号、句号数字等\n"
    "输入的符号必须是英文字符且无需分隔\n"
    "如果对应符号有特殊功能则自动关闭\n"
    "比如逗句翻页和引导符等";

ExtraCodesController::ExtraCodesController(ConfigManager& config) : config_(config) {}

void ExtraCodesController::viewDidLoad() {
    fieldText_ = config_.extraCode;
    for (const auto& box : boxes())
        states_[box.tag - 1] = fieldText_.find(box.character) != std::string::npos;
}

bool ExtraCodesController::boxState(int tag) const { return tag >= 1 && tag <= 5 && states_[tag - 1]; }

void ExtraCodesController::quickSetting(int tag, bool on) {
    if (tag < 1 || tag > 5) return;
    states_[tag - 1] = on;
    const std::string character(boxes()[tag - 1].character);
    std::string text = config_.extraCode;
    if (on) {
        text += character;
    } else {
        for (auto pos = text.find(character); pos != std::string::npos; pos = text.find(character, pos))
            text.erase(pos, character.size());
    }
    store(std::move(text));
}

void ExtraCodesController::controlTextDidEndEditing(const std::string& text) { store(filtered(text)); }

std::string ExtraCodesController::filtered(const std::string& text) {
    std::string result;
    std::set<std::string> kept;
    for (auto& c : graphemes(text)) {
        if (isAsciiLetter(c) || !kept.insert(c).second) continue;
        result += c;
    }
    return result;
}

void ExtraCodesController::store(std::string text) {
    fieldText_ = text;
    config_.extraCode = std::move(text);
    config_.save();
}

} // namespace kelvane
