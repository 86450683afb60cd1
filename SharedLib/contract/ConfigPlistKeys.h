#pragma once
// "config.plist": one flat dictionary that the input method and the preferences
// application both read and write. This table is the only description of its keys,
// their types and defaults, and which program's settings object loads and saves each.
// Both settings stores generate their fields and option tables from it.

#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>

namespace contract {

// CONFIG_PLIST_KEYS(BOTH, IM_ONLY, PREFS_ONLY, B, I, S): one row per key, in the file's
// order. Each row is OWNER(TYPE, field, "Key", default), OWNER being BOTH (both
// programs), IM_ONLY (the input method only) or PREFS_ONLY (the preferences
// application only), TYPE one of B (Bool), I (Int, 64-bit) or S (String).
// Use CONFIG_PLIST_ROW as an owner to keep its rows and CONFIG_PLIST_SKIP to drop them.
// Key spellings are those of the file, misspellings included.
#define CONFIG_PLIST_ROW(TYPE, field, key, def) TYPE(field, key, def)
#define CONFIG_PLIST_SKIP(TYPE, field, key, def)

#define CONFIG_PLIST_KEYS(BOTH, IM_ONLY, PREFS_ONLY, B, I, S)                  \
    BOTH(I, fourCode, "FourCode", 0)                                         \
    BOTH(B, shiftToBoot, "ShiftToBoot", true)                                \
    BOTH(I, emojiMode, "EmojiMode", 0)                                       \
    BOTH(B, doubleSpace, "DoubleSpace", true)                                \
    BOTH(B, moveCusorWhenInput, "MoveCusorWhenInput", false)                 \
    BOTH(B, needUpdateExpandDatabase, "NeedUpdateExpandDatabase", false)     \
    BOTH(S, inputPlanName, "InputPlanName", "智能ABC")                       \
    BOTH(S, assistPlanName, "AssistPlanName", "不使用辅码")                  \
    BOTH(S, codeTableName, "CodeTableName", "不使用主码表")                  \
    PREFS_ONLY(S, revPlanName, "RevPlanName", "不使用映射提示")              \
    BOTH(B, mixEnglishInput, "MixEnglishInput", true)                        \
    PREFS_ONLY(B, lockEmoji, "LockEmoji", false)                             \
    PREFS_ONLY(B, lockPunc, "LockPunc", true)                                \
    BOTH(B, revealCode, "RevealCode", false)                                 \
    BOTH(I, assistCodePlan, "AssistCodePlan", -1)                            \
    BOTH(I, customCodeTableVersion, "CustomCodeTableVersion", -1)            \
    BOTH(I, codeTableVersion, "CodeTableVersion", -1)                        \
    PREFS_ONLY(B, synchronizeConfig, "SynchronizeConfig", false)             \
    PREFS_ONLY(B, longPressSettings, "LongPressSettings", true)              \
    PREFS_ONLY(B, usePopView, "UsePopView", true)                            \
    PREFS_ONLY(B, mapHint, "MapHint", true)                                  \
    BOTH(B, s2t, "S2T", false)                                               \
    BOTH(B, an2ang, "An2ang", false)                                         \
    BOTH(B, in2ing, "In2ing", false)                                         \
    BOTH(B, en2eng, "En2eng", false)                                         \
    BOTH(B, z2zh, "Z2zh", false)                                             \
    BOTH(B, c2ch, "C2ch", false)                                             \
    BOTH(B, s2sh, "S2sh", false)                                             \
    BOTH(B, f2h, "F2h", false)                                               \
    BOTH(B, r2l, "R2l", false)                                               \
    BOTH(B, l2n, "L2n", false)                                               \
    PREFS_ONLY(B, inLineBuffer, "InLineBuffer", false)                       \
    BOTH(B, stopTextReplacement, "StopTextReplacement", false)               \
    PREFS_ONLY(B, moveCurserOnlySpace, "MoveCurserOnlySpace", false)         \
    PREFS_ONLY(B, t9comma, "T9comma", false)                                 \
    BOTH(I, bufferDisplayMode, "BufferDisplayMode", 0)                       \
    BOTH(B, userDict, "UserDict", true)                                      \
    BOTH(B, lockUpperCase, "LockUpperCase", false)                           \
    PREFS_ONLY(B, disableSwipeDownToEmoji, "DisableSwipeDownToEmoji", false) \
    BOTH(B, disableDatabase, "DisableDatabase", false)                       \
    PREFS_ONLY(B, reverseSwipe, "ReverseSwipe", false)                       \
    BOTH(B, cleanUserDict, "CleanUserDict", false)                           \
    BOTH(B, lightAlpha, "LightAlpha", false)                                 \
    BOTH(B, moveBack, "MoveBack", true)                                      \
    BOTH(B, autoBlank, "AutoBlank", false)                                   \
    BOTH(B, wordFirst, "WordFirst", true)                                    \
    BOTH(B, noEmoji, "NoEmoji", false)                                       \
    BOTH(S, bootButtonName, "BootButtonName", "BootButtons.plist")           \
    BOTH(I, s2tType, "S2tType", 0)                                           \
    BOTH(B, revealAssist, "RevealAssist", false)                             \
    BOTH(B, emptySlide, "EmptySlide", true)                                  \
    BOTH(I, skinColor, "SkinColor", 0)                                       \
    BOTH(B, sjrqxq, "SJRQXQ", true)                                          \
    BOTH(B, keyLogger, "KeyLogger", false)                                   \
    BOTH(B, extendedDict, "ExtendedDict", false)                             \
    BOTH(B, quanPin, "QuanPin", true)                                        \
    BOTH(I, codeLength, "CodeLength", 4)                                     \
    BOTH(B, codetableInUserDict, "CodetableInUserDict", false)               \
    BOTH(B, emptyClean, "EmptyClean", false)                                 \
    BOTH(B, voiceOverWordOnly, "VoiceOverWordOnly", false)                   \
    BOTH(B, gn2ng, "Gn2ng", false)                                           \
    BOTH(B, mg2ng, "Mg2ng", false)                                           \
    BOTH(B, uen2un, "Uen2un", false)                                         \
    BOTH(B, iou2iu, "Iou2iu", false)                                         \
    BOTH(B, uei2ui, "Uei2ui", false)                                         \
    BOTH(B, thinking, "Thinking", false)                                     \
    BOTH(B, djPage, "DjPage", true)                                          \
    BOTH(B, khPage, "KhPage", false)                                         \
    BOTH(B, jdPage, "JdPage", false)                                         \
    BOTH(B, verticalCandidates, "VerticalCandidates", false)                 \
    BOTH(B, silence, "Silence", false)                                       \
    BOTH(I, fontSize, "FontSize", 16)                                        \
    BOTH(B, forceEngComma, "ForceEngComma", false)                           \
    BOTH(B, zRepeat, "ZRepeat", false)                                       \
    BOTH(B, zFullSpell, "ZFullSpell", false)                                 \
    BOTH(B, selectNoBG, "SelectNoBG", false)                                 \
    BOTH(B, tabPage, "TabPage", false)                                       \
    BOTH(B, disableBootButton, "DisableBootButton", false)                   \
    BOTH(B, closeBootButtonSecond, "CloseBootButtonSecond", false)           \
    BOTH(S, extraCode, "ExtraCode", "")                                      \
    BOTH(B, forceQwerty, "ForceQwerty", false)                               \
    BOTH(B, superSP, "SuperSP", true)                                        \
    BOTH(B, spaceClean, "SpaceClean", false)                                 \
    BOTH(S, candidateFontName, "CandidateFontName", "")                      \
    BOTH(I, candidateFontColorLight, "CandidateFontColorLight", 0)           \
    BOTH(I, candidateFontColorDark, "CandidateFontColorDark", 0xFFFFFF)      \
    BOTH(B, statusHint, "StatusHint", false)                                 \
    BOTH(I, candidateNumber, "CandidateNumber", 0)                           \
    BOTH(B, shiftSwitchMode, "ShiftSwitchMode", true)                        \
    BOTH(B, controlSwitchMode, "ControlSwitchMode", false)                   \
    BOTH(I, voiceOverLibVersion, "VoiceOverLibVersion", 0)                   \
    BOTH(B, uploadCrashLog, "UploadCrashLog", true)                          \
    BOTH(B, persistedEnMode, "PersistedEnMode", false)                       \
    IM_ONLY(I, expDicVersion, "ExpDicVersion", 0)                            \
    IM_ONLY(I, englishDBVersion, "EnglishDBVersion", 0)

enum class ConfigKeyType { Bool, Int, String };
enum class ConfigKeyOwner { Both, InputMethodOnly, PreferencesOnly };

// One row of the table, for code that walks every key.
struct ConfigKey {
    std::string_view key;
    ConfigKeyType type;
    ConfigKeyOwner owner;
    bool boolDefault = false;
    std::int64_t intDefault = 0;
    std::string_view stringDefault;
};

#define CONFIG_PLIST_ENTRY_Bool(owner, key, def) \
    ConfigKey{key, ConfigKeyType::Bool, ConfigKeyOwner::owner, def, 0, {}},
#define CONFIG_PLIST_ENTRY_Int(owner, key, def) \
    ConfigKey{key, ConfigKeyType::Int, ConfigKeyOwner::owner, false, def, {}},
#define CONFIG_PLIST_ENTRY_String(owner, key, def) \
    ConfigKey{key, ConfigKeyType::String, ConfigKeyOwner::owner, false, 0, def},
#define CONFIG_PLIST_BOTH(TYPE, field, key, def) TYPE(Both, key, def)
#define CONFIG_PLIST_IM(TYPE, field, key, def) TYPE(InputMethodOnly, key, def)
#define CONFIG_PLIST_PREFS(TYPE, field, key, def) TYPE(PreferencesOnly, key, def)
inline constexpr ConfigKey kConfigPlistKeys[] = {
    CONFIG_PLIST_KEYS(CONFIG_PLIST_BOTH, CONFIG_PLIST_IM, CONFIG_PLIST_PREFS,
                      CONFIG_PLIST_ENTRY_Bool, CONFIG_PLIST_ENTRY_Int, CONFIG_PLIST_ENTRY_String)};
#undef CONFIG_PLIST_BOTH
#undef CONFIG_PLIST_IM
#undef CONFIG_PLIST_PREFS
#undef CONFIG_PLIST_ENTRY_Bool
#undef CONFIG_PLIST_ENTRY_Int
#undef CONFIG_PLIST_ENTRY_String

static_assert(std::size(kConfigPlistKeys) == 95);

// The row of this key, or nullptr.
constexpr const ConfigKey* findConfigKey(std::string_view key) {
    for (const auto& row : kConfigPlistKeys)
        if (row.key == key) return &row;
    return nullptr;
}

// Integers outside their range mean nothing to either program; a reader takes the
// default in their place. Keys not listed take any integer.
struct IntRange {
    std::string_view key;
    std::int64_t min;
    std::int64_t max;
};
inline constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();
inline constexpr IntRange kConfigIntRanges[] = {
    {"FourCode", 0, 4},                     // the five commit modes
    {"AssistCodePlan", -1, kNoLimit},       // -1: none
    {"CustomCodeTableVersion", -1, kNoLimit},
    {"CodeTableVersion", -1, kNoLimit},
    {"S2tType", 0, 3},                      // the four conversion variants
    {"CodeLength", 1, 64},                  // keys of one shape code
    {"FontSize", 6, 128},                   // candidate font, pixels
    {"CandidateNumber", 0, kNoLimit},       // 0: as many as fit
    {"CandidateFontColorLight", 0, 0xFFFFFF},
    {"CandidateFontColorDark", 0, 0xFFFFFF},
    {"VoiceOverLibVersion", 0, kNoLimit},
};

// Whether `value` may stand under the Int key `key`.
constexpr bool intInRange(std::string_view key, std::int64_t value) {
    for (const auto& range : kConfigIntRanges)
        if (range.key == key) return value >= range.min && value <= range.max;
    return true;
}

} // namespace contract
