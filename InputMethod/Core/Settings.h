#pragma once
// The input method's options: one table of {key, type, default} from which
// both the typed fields of Settings and the iterable kSettingsOptions array are
// generated, so the two can never disagree.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace taviro {

// X(field, "Key", default) per option, in declaration order. B is a Bool, I
// an Int (64-bit), S a String. Key spellings are those of "config.plist",
// misspellings included.
#define TAVIRO_SETTINGS_OPTIONS(B, I, S)                          \
    I(fourCode, "FourCode", 0)                                    \
    B(shiftToBoot, "ShiftToBoot", true)                           \
    I(emojiMode, "EmojiMode", 0)                                  \
    B(doubleSpace, "DoubleSpace", true)                           \
    B(moveCusorWhenInput, "MoveCusorWhenInput", false)            \
    B(needUpdateExpandDatabase, "NeedUpdateExpandDatabase", false) \
    S(inputPlanName, "InputPlanName", "智能ABC")                  \
    S(assistPlanName, "AssistPlanName", "不使用辅码")             \
    S(codeTableName, "CodeTableName", "不使用主码表")             \
    B(mixEnglishInput, "MixEnglishInput", true)                   \
    B(revealCode, "RevealCode", false)                            \
    I(assistCodePlan, "AssistCodePlan", -1)                       \
    I(customCodeTableVersion, "CustomCodeTableVersion", -1)       \
    I(codeTableVersion, "CodeTableVersion", -1)                   \
    B(s2t, "S2T", false)                                          \
    B(an2ang, "An2ang", false)                                    \
    B(in2ing, "In2ing", false)                                    \
    B(en2eng, "En2eng", false)                                    \
    B(z2zh, "Z2zh", false)                                        \
    B(c2ch, "C2ch", false)                                        \
    B(s2sh, "S2sh", false)                                        \
    B(f2h, "F2h", false)                                          \
    B(r2l, "R2l", false)                                          \
    B(l2n, "L2n", false)                                          \
    B(stopTextReplacement, "StopTextReplacement", false)          \
    I(bufferDisplayMode, "BufferDisplayMode", 0)                  \
    B(userDict, "UserDict", true)                                 \
    B(lockUpperCase, "LockUpperCase", false)                      \
    B(disableDatabase, "DisableDatabase", false)                  \
    B(cleanUserDict, "CleanUserDict", false)                      \
    B(lightAlpha, "LightAlpha", false)                            \
    B(moveBack, "MoveBack", true)                                 \
    B(autoBlank, "AutoBlank", false)                              \
    B(wordFirst, "WordFirst", true)                               \
    B(noEmoji, "NoEmoji", false)                                  \
    S(bootButtonName, "BootButtonName", "BootButtons.plist")      \
    B(revealAssist, "RevealAssist", false)                        \
    B(emptySlide, "EmptySlide", true)                             \
    I(skinColor, "SkinColor", 0)                                  \
    I(s2tType, "S2tType", 0)                                      \
    B(sjrqxq, "SJRQXQ", true)                                     \
    B(superSP, "SuperSP", true)                                   \
    B(keyLogger, "KeyLogger", false)                              \
    B(extendedDict, "ExtendedDict", false)                        \
    B(quanPin, "QuanPin", true)                                   \
    I(codeLength, "CodeLength", 4)                                \
    B(codetableInUserDict, "CodetableInUserDict", false)          \
    B(emptyClean, "EmptyClean", false)                            \
    B(voiceOverWordOnly, "VoiceOverWordOnly", false)              \
    B(gn2ng, "Gn2ng", false)                                      \
    B(mg2ng, "Mg2ng", false)                                      \
    B(uen2un, "Uen2un", false)                                    \
    B(iou2iu, "Iou2iu", false)                                    \
    B(uei2ui, "Uei2ui", false)                                    \
    B(thinking, "Thinking", false)                                \
    B(djPage, "DjPage", true)                                     \
    B(khPage, "KhPage", false)                                    \
    B(jdPage, "JdPage", false)                                    \
    B(verticalCandidates, "VerticalCandidates", false)            \
    B(silence, "Silence", false)                                  \
    I(fontSize, "FontSize", 16)                                   \
    B(forceEngComma, "ForceEngComma", false)                      \
    B(zRepeat, "ZRepeat", false)                                  \
    B(zFullSpell, "ZFullSpell", false)                            \
    B(selectNoBG, "SelectNoBG", false)                            \
    B(tabPage, "TabPage", false)                                  \
    B(disableBootButton, "DisableBootButton", false)              \
    B(statusHint, "StatusHint", false)                            \
    I(candidateNumber, "CandidateNumber", 0)                      \
    B(controlSwitchMode, "ControlSwitchMode", false)              \
    B(shiftSwitchMode, "ShiftSwitchMode", true)                   \
    B(closeBootButtonSecond, "CloseBootButtonSecond", false)      \
    S(extraCode, "ExtraCode", "")                                 \
    B(forceQwerty, "ForceQwerty", false)                          \
    B(spaceClean, "SpaceClean", false)                            \
    S(candidateFontName, "CandidateFontName", "")                 \
    I(candidateFontColorLight, "CandidateFontColorLight", 0)      \
    I(candidateFontColorDark, "CandidateFontColorDark", 0xFFFFFF) \
    I(voiceOverLibVersion, "VoiceOverLibVersion", 0)              \
    B(uploadCrashLog, "UploadCrashLog", true)                     \
    B(persistedEnMode, "PersistedEnMode", false)                  \
    I(expDicVersion, "ExpDicVersion", 0)                          \
    I(englishDBVersion, "EnglishDBVersion", 0)

using StringMap = std::map<std::string, std::string>;

// The silence list and the punctuation map as they stand with no files.
StringMap defaultSilenceDict();
StringMap defaultPuncMapDict();

// One immutable-once-published set of settings. Readers on any thread hold a
// std::shared_ptr<const Settings> obtained from ConfigManager.
struct Settings {
#define TAVIRO_DECLARE_BOOL(field, key, def) bool field = def;
#define TAVIRO_DECLARE_INT(field, key, def) std::int64_t field = def;
#define TAVIRO_DECLARE_STRING(field, key, def) std::string field = def;
    TAVIRO_SETTINGS_OPTIONS(TAVIRO_DECLARE_BOOL, TAVIRO_DECLARE_INT, TAVIRO_DECLARE_STRING)
#undef TAVIRO_DECLARE_BOOL
#undef TAVIRO_DECLARE_INT
#undef TAVIRO_DECLARE_STRING

    // Bundle identifier to application name: where the input method is silent.
    StringMap silenceDict = defaultSilenceDict();
    // ASCII punctuation to the text output in its place.
    StringMap puncMapDict = defaultPuncMapDict();

    bool operator==(const Settings&) const = default;
};

enum class OptionType { Bool, Int, String };

// One row of the option table. Exactly one of the three field pointers is set,
// the one matching `type`.
struct OptionSpec {
    std::string_view key;
    OptionType type;
    bool boolDefault = false;
    std::int64_t intDefault = 0;
    std::string_view stringDefault;
    bool Settings::*boolField = nullptr;
    std::int64_t Settings::*intField = nullptr;
    std::string Settings::*stringField = nullptr;
    // "MoveCusorWhenInput" is written but never read back from the file.
    bool loaded = true;
};

#define TAVIRO_SPEC_BOOL(field, key, def) \
    OptionSpec{key, OptionType::Bool, def, 0, {}, &Settings::field, nullptr, nullptr, \
               std::string_view(key) != "MoveCusorWhenInput"},
#define TAVIRO_SPEC_INT(field, key, def) \
    OptionSpec{key, OptionType::Int, false, def, {}, nullptr, &Settings::field, nullptr, true},
#define TAVIRO_SPEC_STRING(field, key, def) \
    OptionSpec{key, OptionType::String, false, 0, def, nullptr, nullptr, &Settings::field, true},
inline constexpr OptionSpec kSettingsOptions[] = {
    TAVIRO_SETTINGS_OPTIONS(TAVIRO_SPEC_BOOL, TAVIRO_SPEC_INT, TAVIRO_SPEC_STRING)};
#undef TAVIRO_SPEC_BOOL
#undef TAVIRO_SPEC_INT
#undef TAVIRO_SPEC_STRING

static_assert(std::size(kSettingsOptions) == 83);

// The option with this key, or nullptr.
const OptionSpec* findOption(std::string_view key);

// Whether the option's value is the same in both settings.
bool sameOptionValue(const OptionSpec& option, const Settings& a, const Settings& b);

} // namespace taviro
