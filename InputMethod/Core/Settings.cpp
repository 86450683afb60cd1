#include "InputMethod/Core/Settings.h"

namespace taviro {

StringMap defaultSilenceDict() {
    return {
        {"com.apple.dt.Xcode", "Xcode"},
        {"com.apple.Spotlight", "Spotlight"},
        {"com.apple.dock.ecti", "Launchpad"},
        {"com.apple.Terminal", "Terminal"},
    };
}

StringMap defaultPuncMapDict() {
    return {
        {",", "\uFF0C"},          {".", "\u3002"},        {"\\", "\u3001"},
        {"/", "/"},               {"!", "\uFF01"},        {"?", "\uFF1F"},
        {"$", "\uFFE5"},          {"^", "\u2026\u2026"},  {"(", "\uFF08"},
        {")", "\uFF09"},          {"_", "\u2014\u2014"},  {":", "\uFF1A"},
        {";", "\uFF1B"},          {"'", "\u2018"},        {"\"", "\u201C"},
        {"[", "\u3010"},          {"]", "\u3011"},        {"{", "\uFF5B"},
        {"}", "\uFF5D"},          {"~", "\uFF5E"},        {"`", "\u00B7"},
        {"<", "\u300A"},          {">", "\u300B"},
    };
}

const OptionSpec* findOption(std::string_view key) {
    for (const auto& option : kSettingsOptions)
        if (option.key == key) return &option;
    return nullptr;
}

bool sameOptionValue(const OptionSpec& option, const Settings& a, const Settings& b) {
    switch (option.type) {
    case OptionType::Bool: return a.*option.boolField == b.*option.boolField;
    case OptionType::Int: return a.*option.intField == b.*option.intField;
    case OptionType::String: return a.*option.stringField == b.*option.stringField;
    }
    return true;
}

} // namespace taviro
