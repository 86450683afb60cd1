#include "Settings/ConfigManager.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/NotificationSender.h"

#include <system_error>

namespace kelvane {

StringMap defaultSilenceDict() {
    return {{"com.apple.dt.Xcode", "Xcode"},
            {"com.apple.spotlight", "Spotlight"},
            {"com.apple.dock.ecti", "Launchpad"}};
}

StringMap defaultPuncMapDict() {
    return {{",", "，"},  {".", "。"},  {"\\", "、"}, {"/", "/"},  {"!", "！"},  {"?", "？"},
            {"$", "￥"},  {"^", "……"}, {"(", "（"}, {")", "）"}, {"_", "——"}, {":", "："},
            {";", "；"},  {"'", "‘"},  {"\"", "“"}, {"[", "【"}, {"]", "】"}, {"{", "｛"},
            {"}", "｝"},  {"~", "～"},  {"`", "·"},  {"<", "《"}, {">", "》"}};
}

const ConfigOption* findConfigOption(std::string_view key) {
    for (const auto& option : kConfigOptions)
        if (option.key == key) return &option;
    return nullptr;
}

ConfigManager& ConfigManager::shared() {
    static ConfigManager instance(plat::Paths::perUserFolder());
    return instance;
}

ConfigManager::ConfigManager(std::filesystem::path folder)
    : configPath(folder / "config.plist"), folder_(std::move(folder)) {
    loadConfig();
}

void ConfigManager::loadConfig() {
    if (auto silence = plat::readStringMapFile(silencePath())) silenceDict = std::move(*silence);
    if (auto punc = plat::readStringMapFile(puncMapPath())) puncMapDict = std::move(*punc);

    // Keys of a plist dictionary are always strings, so a readable root is taken whole.
    auto root = plat::readPlistFile(configPath, plat::PlistValue::Type::Dictionary);
    if (!root) return;
    configData = *root->asDictionary();
    for (const auto& option : kConfigOptions) {
        auto it = configData.find(std::string(option.key));
        if (it == configData.end()) continue;
        const plat::PlistValue& value = it->second;
        switch (option.type) {
        case ConfigOptionType::Bool:
            if (auto b = value.getBool()) this->*option.boolField = *b;
            break;
        case ConfigOptionType::Int:
            if (auto i = value.getInteger())
                this->*option.intField = contract::intInRange(option.key, *i) ? *i : option.intDefault;
            break;
        case ConfigOptionType::String:
            if (auto s = value.stringPtr()) this->*option.stringField = *s;
            break;
        }
    }
}

bool ConfigManager::writeDictionary(const std::filesystem::path& path, const plat::PlistValue& root) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    std::string error;
    if (plat::writePlistFile(path, root, &error)) return true;
    plat::log("Kelvane: could not write " + path.string() + ": " + error);
    return false;
}

void ConfigManager::writeStringMap(const std::filesystem::path& path, const StringMap& map) {
    writeDictionary(path, plat::stringMapToPlist(map));
}

void ConfigManager::save() {
    for (const auto& option : kConfigOptions) {
        std::string key(option.key);
        switch (option.type) {
        case ConfigOptionType::Bool: configData[key] = plat::PlistValue(this->*option.boolField); break;
        case ConfigOptionType::Int: configData[key] = plat::PlistValue(this->*option.intField); break;
        case ConfigOptionType::String: configData[key] = plat::PlistValue(this->*option.stringField); break;
        }
    }
    std::error_code ec;
    // A file that exists but cannot be read may still hold the user's settings.
    if (!plat::readPlistFile(configPath, plat::PlistValue::Type::Dictionary) &&
        std::filesystem::exists(std::filesystem::symlink_status(configPath, ec)))
        plat::log("Not overwriting unreadable " + configPath.string());
    else
        writeDictionary(configPath, plat::PlistValue(configData));
    writeStringMap(silencePath(), silenceDict);
    writeStringMap(puncMapPath(), puncMapDict);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::resetPuncMap() {
    puncMapDict = defaultPuncMapDict();
    writeStringMap(puncMapPath(), puncMapDict);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::removePuncMapEntry(const std::string& key) {
    puncMapDict.erase(key);
    writeStringMap(puncMapPath(), puncMapDict);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::setPuncMapEntry(const std::string& key, const std::string& output) {
    puncMapDict[key] = output;
    writeStringMap(puncMapPath(), puncMapDict);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::addSilenceApp(const std::string& bundleIdentifier, const std::string& name) {
    silenceDict[bundleIdentifier] = name;
    writeStringMap(silencePath(), silenceDict);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::removeSilenceApp(const std::string& bundleIdentifier) {
    silenceDict.erase(bundleIdentifier);
    writeStringMap(silencePath(), silenceDict);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

} // namespace kelvane
