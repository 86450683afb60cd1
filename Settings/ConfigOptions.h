#pragma once
// Every option of "config.plist" that the preferences application loads and saves:
// one table of {field, key, default}. The fields of ConfigManager and the iterable
// kConfigOptions array are both generated from it, in this order.

#include <cstdint>
#include <string_view>

namespace kelvane {

// X(field, "Key", default) per option. B is a Bool, I an Int (64-bit), S a String.
// Key spellings are those of the file, misspellings included.
#define KELVANE_CONFIG_OPTIONS(B, I, S)                             \
    I(fourCode, "FourCode", 0)                                      \
    B(shiftToBoot, "ShiftToBoot", true)                             \
    I(emojiMode, "EmojiMode", 0)                                    \
    B(doubleSpace, "DoubleSpace", true)                             \
    B(moveCusorWhenInput, "MoveCusorWhenInput", false)              \
    B(needUpdateExpandDatabase, "NeedUpdateExpandDatabase", false)  \
    S(inputPlanName, "InputPlanName", "智能ABC")                    \
    S(assistPlanName, "AssistPlanName", "不使用辅码")               \
    S(codeTableName, "CodeTableName", "不使用主码表")               \
    S(revPlanName, "RevPlanName", "不使用映射提示")                 \
    B(mixEnglishInput, "MixEnglishInput", true)                     \
    B(lockEmoji, "LockEmoji", false)                                \
    B(lockPunc, "LockPunc", true)                                   \
    B(revealCode, "RevealCode", false)                              \
    I(assistCodePlan, "AssistCodePlan", -1)                         \
    I(customCodeTableVersion, "CustomCodeTableVersion", -1)         \
    I(codeTableVersion, "CodeTableVersion", -1)                     \
    B(synchronizeConfig, "SynchronizeConfig", false)                \
    B(longPressSettings, "LongPressSettings", true)                 \
    B(usePopView, "UsePopView", true)                               \
    B(mapHint, "MapHint", true)                                     \
    B(s2t, "S2T", false)                                            \
    B(an2ang, "An2ang", false)                                      \
    B(in2ing, "In2ing", false)                                      \
    B(en2eng, "En2eng", false)                                      \
    B(z2zh, "Z2zh", false)                                          \
    B(c2ch, "C2ch", false)                                          \
    B(s2sh, "S2sh", false)                                          \
    B(f2h, "F2h", false)                                            \
    B(r2l, "R2l", false)                                            \
    B(l2n, "L2n", false)                                            \
    B(inLineBuffer, "InLineBuffer", false)                          \
    B(stopTextReplacement, "StopTextReplacement", false)            \
    B(moveCurserOnlySpace, "MoveCurserOnlySpace", false)            \
    B(t9comma, "T9comma", false)                                    \
    I(bufferDisplayMode, "BufferDisplayMode", 0)                    \
    B(userDict, "UserDict", true)                                   \
    B(lockUpperCase, "LockUpperCase", false)                        \
    B(disableSwipeDownToEmoji, "DisableSwipeDownToEmoji", false)    \
    B(disableDatabase, "DisableDatabase", false)                    \
    B(reverseSwipe, "ReverseSwipe", false)                          \
    B(cleanUserDict, "CleanUserDict", false)                        \
    B(lightAlpha, "LightAlpha", false)                              \
    B(moveBack, "MoveBack", true)                                   \
    B(autoBlank, "AutoBlank", false)                                \
    B(wordFirst, "WordFirst", true)                                 \
    B(noEmoji, "NoEmoji", false)                                    \
    S(bootButtonName, "BootButtonName", "BootButtons.plist")        \
    I(s2tType, "S2tType", 0)                                        \
    B(revealAssist, "RevealAssist", false)                          \
    B(emptySlide, "EmptySlide", true)                               \
    I(skinColor, "SkinColor", 0)                                    \
    B(sjrqxq, "SJRQXQ", true)                                       \
    B(keyLogger, "KeyLogger", false)                                \
    B(extendedDict, "ExtendedDict", false)                          \
    B(quanPin, "QuanPin", true)                                     \
    I(codeLength, "CodeLength", 4)                                  \
    B(codetableInUserDict, "CodetableInUserDict", false)            \
    B(emptyClean, "EmptyClean", false)                              \
    B(voiceOverWordOnly, "VoiceOverWordOnly", false)                \
    B(gn2ng, "Gn2ng", false)                                        \
    B(mg2ng, "Mg2ng", false)                                        \
    B(uen2un, "Uen2un", false)                                      \
    B(iou2iu, "Iou2iu", false)                                      \
    B(uei2ui, "Uei2ui", false)                                      \
    B(thinking, "Thinking", false)                                  \
    B(djPage, "DjPage", true)                                       \
    B(khPage, "KhPage", false)                                      \
    B(jdPage, "JdPage", false)                                      \
    B(verticalCandidates, "VerticalCandidates", false)              \
    B(silence, "Silence", false)                                    \
    I(fontSize, "FontSize", 16)                                     \
    B(forceEngComma, "ForceEngComma", false)                        \
    B(zRepeat, "ZRepeat", false)                                    \
    B(zFullSpell, "ZFullSpell", false)                              \
    B(selectNoBG, "SelectNoBG", false)                              \
    B(tabPage, "TabPage", false)                                    \
    B(disableBootButton, "DisableBootButton", false)                \
    B(closeBootButtonSecond, "CloseBootButtonSecond", false)        \
    S(extraCode, "ExtraCode", "")                                   \
    B(forceQwerty, "ForceQwerty", false)                            \
    B(superSP, "SuperSP", true)                                     \
    B(spaceClean, "SpaceClean", false)                              \
    S(candidateFontName, "CandidateFontName", "")                   \
    I(candidateFontColorLight, "CandidateFontColorLight", 0)        \
    I(candidateFontColorDark, "CandidateFontColorDark", 0xFFFFFF)   \
    B(statusHint, "StatusHint", false)                              \
    I(candidateNumber, "CandidateNumber", 0)                        \
    B(shiftSwitchMode, "ShiftSwitchMode", true)                     \
    B(controlSwitchMode, "ControlSwitchMode", false)                \
    I(voiceOverLibVersion, "VoiceOverLibVersion", 0)                \
    B(uploadCrashLog, "UploadCrashLog", true)                       \
    B(persistedEnMode, "PersistedEnMode", false)

// Keys that only the input method's settings know; kept untouched in configData.
inline constexpr std::string_view kInputMethodOnlyKeys[] = {"ExpDicVersion", "EnglishDBVersion"};

// Sentinels that stand for "none".
inline constexpr const char* kNoMainCodeTable = "不使用主码表";
inline constexpr const char* kNoAssistTable = "不使用辅码";
inline constexpr const char* kNoKeyHint = "不使用映射提示";

} // namespace kelvane
