#pragma once
// Every option of "config.plist" that the preferences application loads and saves,
// taken from the shared key table. The fields of ConfigManager and the iterable
// kConfigOptions array are both generated from it, in this order.

#include <cstdint>
#include <string_view>

#include "SharedLib/contract/ConfigPlistKeys.h"

namespace kelvane {

// X(field, "Key", default) per option, in the file's order. B is a Bool, I an Int
// (64-bit), S a String.
#define KELVANE_CONFIG_OPTIONS(B, I, S) \
    CONFIG_PLIST_KEYS(CONFIG_PLIST_ROW, CONFIG_PLIST_SKIP, CONFIG_PLIST_ROW, B, I, S)

// Keys that only the input method's settings know; kept untouched in configData.
#define KELVANE_KEY_OF(TYPE, field, key, def) key,
inline constexpr std::string_view kInputMethodOnlyKeys[] = {
    CONFIG_PLIST_KEYS(CONFIG_PLIST_SKIP, KELVANE_KEY_OF, CONFIG_PLIST_SKIP, _, _, _)};
#undef KELVANE_KEY_OF

// Sentinels that stand for "none".
inline constexpr const char* kNoMainCodeTable = "不使用主码表";
inline constexpr const char* kNoAssistTable = "不使用辅码";
inline constexpr const char* kNoKeyHint = "不使用映射提示";

} // namespace kelvane
