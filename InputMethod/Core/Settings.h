#pragma once
// The input method's options: the typed fields of Settings and the iterable
// kSettingsOptions array are both generated from the shared key table of
// "config.plist", so they can never disagree with it or with each other.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "SharedLib/contract/ConfigPlistKeys.h"

namespace taviro {

// X(field, "Key", default) per option the input method loads and saves, in the
// file's order. B is a Bool, I an Int (64-bit), S a String.
#define TAVIRO_SETTINGS_OPTIONS(B, I, S) \
    CONFIG_PLIST_KEYS(CONFIG_PLIST_ROW, CONFIG_PLIST_ROW, CONFIG_PLIST_SKIP, B, I, S)

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
