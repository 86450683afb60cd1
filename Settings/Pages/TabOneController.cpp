#include "Settings/Pages/TabOneController.h"

#include "Settings/ConfigManager.h"
#include "Settings/InputMethodCommands.h"
#include "SharedLib/contract/CandidateFontSizes.h"

namespace kelvane {
namespace {

using B = TabOneController::Box;
using P = TabOneController::PopUp;

// The setting behind a plain check box, and whether the box shows its negation.
struct BoxField {
    bool ConfigManager::*field;
    bool inverted;
};

std::optional<BoxField> fieldOf(B box) {
    switch (box) {
    case B::shiftToBoot: return BoxField{&ConfigManager::shiftToBoot, false};
    case B::mixEnglishInput: return BoxField{&ConfigManager::mixEnglishInput, false};
    case B::autoBlank: return BoxField{&ConfigManager::autoBlank, false};
    case B::s2t: return BoxField{&ConfigManager::s2t, false};
    case B::sjrqxq: return BoxField{&ConfigManager::sjrqxq, false};
    case B::superJP: return BoxField{&ConfigManager::superSP, false};
    case B::noEmojiCandidate: return BoxField{&ConfigManager::noEmoji, true};
    case B::zRepeat: return BoxField{&ConfigManager::zRepeat, false};
    case B::zFullSpell: return BoxField{&ConfigManager::zFullSpell, false};
    case B::disableBootButton: return BoxField{&ConfigManager::disableBootButton, false};
    case B::closeBootButtonSecond: return BoxField{&ConfigManager::closeBootButtonSecond, false};
    case B::forceQwerty: return BoxField{&ConfigManager::forceQwerty, false};
    case B::lockUpperCase: return BoxField{&ConfigManager::lockUpperCase, false};
    case B::shiftSwitchMode: return BoxField{&ConfigManager::shiftSwitchMode, false};
    case B::controlSwitchMode: return BoxField{&ConfigManager::controlSwitchMode, false};
    case B::statusHint: return BoxField{&ConfigManager::statusHint, false};
    case B::persistedEnMode: return BoxField{&ConfigManager::persistedEnMode, false};
    case B::voiceOverOnlyWordButton: return BoxField{&ConfigManager::voiceOverWordOnly, false};
    default: return std::nullopt;
    }
}

// Skin colour and buffer style: value 0 is item 0, value n >= 1 is item n + 1.
int64_t indexOfShiftedValue(int64_t value) { return value <= 0 ? 0 : value + 1; }
int64_t valueOfShiftedIndex(int index) { return index >= 1 ? index - 1 : index; }

// The font sizes the candidate windows are laid out for, as menu titles.
std::vector<std::string> fontSizeTitles() {
    std::vector<std::string> titles;
    for (int size : contract::kCandidateFontSizes) titles.push_back(std::to_string(size));
    return titles;
}

int indexOfTitle(const std::vector<std::string>& titles, const std::string& title) {
    for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i] == title) return static_cast<int>(i);
    return -1;
}

// A title that is a decimal integer, and nothing else.
std::optional<int64_t> decimal(const std::string& title) {
    if (title.empty() || title.size() > 9) return std::nullopt;
    int64_t value = 0;
    for (char c : title) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

const std::string TabOneController::kAutoSpaceHelp =
    "于 iOS 处理机制不同，macOS 输入法并不处理所有符号，塔维输入法只能在中文模式下输入的英文前自动添加空格；\n"
    "由于 macOS 对旧 API 兼容很差，个别软件（比如 QT、Java 编写实现）中塔维输入法可能无法获取光标周围的文字，此时本功能失效。";
const std::string TabOneController::kPersistedEnModeHelp =
    "塔维输入法默认为每个应用（静默应用除外）保存当前的输入模式；\n"
    "总之，你也可以开启这个功能，这样塔维输入法就会【永久地】保存你的输入模式，直到你再次切换它。\n"
    "（静默应用列表功能则会自动失效）";
const std::string TabOneController::kVoiceOverHelp =
    "塔维解释库由塔维输入法的编辑们整理，每个字只取一个最常见且更准确的解释词，可让视障者提高输入效率。\n"
    "如果你对解释库有任何意见和建议，欢迎通过项目的问题追踪告诉我们。";

const std::array<TabOneController::BoxInfo, TabOneController::kBoxCount>& TabOneController::boxes() {
    static const std::array<BoxInfo, kBoxCount> kBoxes = {{
        {B::shiftToBoot, "shiftToBoot", "Shift 加字母输入引导符号"},
        {B::mixEnglishInput, "mixEnglishInput", "中英混输"},
        {B::autoBlank, "autoBlank", "中英文之间自动空格"},
        {B::s2t, "s2t", "输出繁体"},
        {B::sjrqxq, "sjrqxq", "时间日期星期候选"},
        {B::superJP, "superJP", "超级简拼"},
        {B::noEmojiCandidate, "noEmojiCandidate", "Emoji 候选"},
        {B::zRepeat, "zRepeat", "z 键重复上屏"},
        {B::zFullSpell, "zFullSpell", "z 键全拼反查"},
        {B::disableBootButton, "disableBootButton", "停用引导符号"},
        {B::closeBootButtonSecond, "closeBootButtonSecond", "引导符号不连续输入"},
        {B::forceQwerty, "forceQwerty", "强制 QWERTY 键位"},
        {B::lockUpperCase, "lockUpperCase", "编码显示为大写"},
        {B::shiftSwitchMode, "shiftSwitchMode", "Shift 切换中英文"},
        {B::controlSwitchMode, "controlSwitchMode", "Control 切换中英文"},
        {B::statusHint, "statusHint", "切换时显示状态提示"},
        {B::persistedEnMode, "persistedEnMode", "全局保持输入模式"},
        {B::voiceOverOnlyWordButton, "voiceOverOnlyWordButton", "旁白只读候选词"},
        {B::candidateFontBox, "candidateFontBox", "候选字体"},
        {B::candidateColorBox, "candidateColorBox", "候选颜色"},
    }};
    return kBoxes;
}

const std::array<TabOneController::PopUpInfo, TabOneController::kPopUpCount>& TabOneController::popUps() {
    static const std::array<PopUpInfo, kPopUpCount> kPopUps = {{
        {P::fontSize, "fontSize", "候选字号", fontSizeTitles()},
        {P::candidateBarLayout, "candidateBarLayout", "候选栏", {"横排候选栏", "竖排候选栏"}},
        {P::selectBGStyle, "selectBGStyle", "选中样式", {"高亮背景", "仅文字颜色"}},
        {P::s2tType, "s2tType", "繁体样式", {"台湾正体", "香港繁体", "繁体出简", "无脑繁体"}},
        {P::skinColorSwitcher, "skinColorSwitcher", "候选栏外观", {"跟随系统", "", "浅色", "深色"}},
        {P::bufferStyleSelector, "bufferStyleSelector", "编码显示", {"按键原样", "", "双拼显示为全拼", "两码一组"}},
        {P::candidateNumber, "candidateNumber", "每页候选", {"自动", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
        {P::voiceOverLib, "voiceOverLib", "旁白解释库", {"塔维解释库 2", "塔维解释库"}},
    }};
    return kPopUps;
}

void TabOneController::save() { config_.save(); }

RGB TabOneController::lightColor() const { return colorFromValue(config_.candidateFontColorLight); }
RGB TabOneController::darkColor() const { return colorFromValue(config_.candidateFontColorDark); }

void TabOneController::refreshColors() {
    const bool isDefault =
        config_.candidateFontColorDark == kWhiteValue && config_.candidateFontColorLight == kBlackValue;
    checked_[static_cast<size_t>(B::candidateColorBox)] = !isDefault;
    colorButtonsEnabled_ = !isDefault;
}

void TabOneController::viewDidAppear() {
    // A stored value outside its menu (only a hand-edited file has one) selects nothing.
    auto select = [this](P p, int64_t index) {
        const auto size = static_cast<int64_t>(popUp(p).titles.size());
        selected_[static_cast<size_t>(p)] = index >= 0 && index < size ? static_cast<int>(index) : -1;
    };
    refreshColors();
    select(P::candidateBarLayout, config_.verticalCandidates ? 1 : 0);
    // A size an earlier version saved shows as the nearest offered one.
    select(P::fontSize, indexOfTitle(popUp(P::fontSize).titles,
                                     std::to_string(contract::nearestCandidateFontSize(config_.fontSize))));
    select(P::skinColorSwitcher, indexOfShiftedValue(config_.skinColor));
    select(P::bufferStyleSelector, indexOfShiftedValue(config_.bufferDisplayMode));
    select(P::selectBGStyle, config_.selectNoBG ? 1 : 0);
    const bool ownFont = !config_.candidateFontName.empty();
    checked_[static_cast<size_t>(B::candidateFontBox)] = ownFont;
    fontButtonEnabled_ = ownFont;
    fontButtonFamily_ = ownFont ? config_.candidateFontName : std::string();
    select(P::candidateNumber, config_.candidateNumber);
    s2tTypeEnabled_ = config_.s2t;
    select(P::s2tType, config_.s2tType);
    for (const auto& info : boxes())
        if (auto f = fieldOf(info.box)) checked_[static_cast<size_t>(info.box)] = (config_.*(f->field)) != f->inverted;
    select(P::voiceOverLib, config_.voiceOverLibVersion);
}

void TabOneController::toggle(Box box, bool on) {
    checked_[static_cast<size_t>(box)] = on;
    if (auto f = fieldOf(box)) {
        config_.*(f->field) = on != f->inverted;
        save();
        if (box == B::s2t) s2tTypeEnabled_ = config_.s2t;
        return;
    }
    if (box == B::candidateFontBox) {
        fontButtonEnabled_ = on;
        if (on) return; // nothing is stored until a face is picked
        config_.candidateFontName.clear();
        save();
        fontButtonFamily_.clear();
        InputMethodCommands::candidateFontChanged(config_);
    } else if (box == B::candidateColorBox) {
        colorButtonsEnabled_ = on;
        if (on) return;
        config_.candidateFontColorLight = kBlackValue;
        save();
        config_.candidateFontColorDark = kWhiteValue;
        save();
    }
}

void TabOneController::choose(PopUp p, int index) {
    const auto& titles = popUp(p).titles;
    if (index < 0 || index >= static_cast<int>(titles.size())) return; // no selection: nothing to do
    selected_[static_cast<size_t>(p)] = index;
    const std::string& title = titles[static_cast<size_t>(index)];
    switch (p) {
    case P::fontSize:
        if (auto size = decimal(title)) InputMethodCommands::chooseFontSize(config_, *size);
        break;
    case P::candidateBarLayout:
        InputMethodCommands::chooseCandidatePanel(config_, index == 1);
        candidateNumberEnabled_ = !config_.verticalCandidates;
        break;
    case P::selectBGStyle:
        config_.selectNoBG = index != 0;
        save();
        break;
    case P::s2tType:
        for (size_t i = 0; i < kConversionTitles.size(); ++i)
            if (kConversionTitles[i] == title) {
                config_.s2tType = static_cast<int64_t>(i);
                save();
            }
        break;
    case P::skinColorSwitcher:
        config_.skinColor = valueOfShiftedIndex(index);
        save();
        break;
    case P::bufferStyleSelector:
        config_.bufferDisplayMode = valueOfShiftedIndex(index);
        save();
        break;
    case P::candidateNumber:
        config_.candidateNumber = index;
        save();
        break;
    case P::voiceOverLib:
        config_.voiceOverLibVersion = index;
        save();
        break;
    }
}

TabOneController::FontRequest TabOneController::selectCandidateFont() const {
    FontRequest request;
    request.size = contract::nearestCandidateFontSize(config_.fontSize);
    if (!config_.candidateFontName.empty()) request.family = config_.candidateFontName;
    return request;
}

void TabOneController::changeFont(const std::string& family) {
    if (family.empty()) return;
    fontButtonFamily_ = family;
    config_.candidateFontName = family;
    save();
    InputMethodCommands::candidateFontChanged(config_);
}

RGB TabOneController::colorSelector(int tag) {
    editingLight_ = tag == 0;
    return editingLight_ ? lightColor() : darkColor();
}

void TabOneController::setColor(const RGB& color) {
    (editingLight_ ? config_.candidateFontColorLight : config_.candidateFontColorDark) = hexValue(color);
    save();
}

} // namespace kelvane
