#include "Settings/ConfigManager.h"

#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/NotificationSender.h"

#include <system_error>
#include <utility>
#include <vector>

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
    savedOptions_ = optionValues();
    loadConfig();
}

namespace {

// Whether a load takes the stored value as it stands.
bool loadsAsStored(const ConfigOption& option, const plat::PlistValue& value) {
    switch (option.type) {
    case ConfigOptionType::Bool: return value.isBool();
    case ConfigOptionType::Int:
        return value.isInteger() && contract::intInRange(option.key, *value.getInteger());
    case ConfigOptionType::String: return value.stringPtr() != nullptr;
    }
    return false;
}

} // namespace

plat::PlistValue::Dictionary ConfigManager::optionValues() const {
    plat::PlistValue::Dictionary out;
    for (const auto& option : kConfigOptions) {
        std::string key(option.key);
        switch (option.type) {
        case ConfigOptionType::Bool: out.emplace(key, plat::PlistValue(this->*option.boolField)); break;
        case ConfigOptionType::Int: out.emplace(key, plat::PlistValue(this->*option.intField)); break;
        case ConfigOptionType::String: out.emplace(key, plat::PlistValue(this->*option.stringField)); break;
        }
    }
    return out;
}

std::string ConfigManager::takeSetAsideMessage() { return std::exchange(setAsideMessage_, {}); }

void ConfigManager::loadConfig() {
    if (auto silence = plat::readStringMapFile(silencePath())) savedSilence_ = silenceDict = std::move(*silence);
    if (auto punc = plat::readStringMapFile(puncMapPath())) savedPuncMap_ = puncMapDict = std::move(*punc);

    std::optional<plat::SetAsideFile> aside;
    const auto file = plat::loadDictionaryFile(configPath, plat::configLockPath(folder_), kLockWait, &aside);
    if (aside) {
        setAsideMessage_ = "设置文件 config.plist 无法使用（" + aside->reason + "），原文件已保留为 " +
                           aside->aside.filename().string() + "。";
        plat::log("Kelvane: the settings file " + configPath.string() + " cannot be used (" + aside->reason +
                  "): it was moved to " + aside->aside.string());
    } else if (!file.ok() && file.state != plat::DictionaryFileRead::State::missing) {
        plat::log("Kelvane: cannot read " + configPath.string() + ": " + file.reason);
    }
    if (!file.ok()) return;
    configData = file.dictionary;
    std::vector<std::string> loadedKeys;
    for (const auto& option : kConfigOptions) {
        auto it = configData.find(option.key);
        if (it == configData.end()) continue;
        const plat::PlistValue& value = it->second;
        bool loaded = true;
        switch (option.type) {
        case ConfigOptionType::Bool:
            if (auto b = value.getBool()) this->*option.boolField = *b;
            else loaded = false;
            break;
        case ConfigOptionType::Int:
            if (auto i = value.getInteger())
                this->*option.intField = contract::intInRange(option.key, *i) ? *i : option.intDefault;
            else loaded = false;
            break;
        case ConfigOptionType::String:
            if (auto s = value.stringPtr()) this->*option.stringField = *s;
            else loaded = false;
            break;
        }
        if (loaded) loadedKeys.emplace_back(option.key);
    }
    // A field the file set matches the file; any other keeps what it last saved.
    const auto values = optionValues();
    for (const auto& key : loadedKeys) savedOptions_[key] = values.at(key);
}

bool ConfigManager::createFolder() {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    return !ec;
}

void ConfigManager::saveStringMap(const std::filesystem::path& path, const StringMap& map, StringMap& saved) {
    const plat::DictionaryChanges changes = plat::stringMapDifference(saved, map);
    const auto outcome =
        plat::mergeIntoDictionaryFile(path, plat::configLockPath(folder_), changes, kLockWait);
    if (outcome.ok()) saved = map;
    else if (outcome.status == plat::MergeOutcome::Status::refused)
        plat::log("Not overwriting unreadable " + path.string());
    else
        plat::log("Kelvane: could not write " + path.string() + ": " + outcome.error);
}

void ConfigManager::save() {
    createFolder();
    const plat::PlistValue::Dictionary values = optionValues();
    plat::DictionaryChanges changes;
    for (const auto& [key, value] : values) {
        auto it = savedOptions_.find(key);
        if (it == savedOptions_.end() || !(it->second == value)) changes.changed.emplace(key, value);
        else changes.fill.emplace(key, value);
    }
    changes.keeps = [](const std::string& key, const plat::PlistValue& stored) {
        const ConfigOption* option = findConfigOption(key);
        return !option || loadsAsStored(*option, stored);
    };
    const auto outcome =
        plat::mergeIntoDictionaryFile(configPath, plat::configLockPath(folder_), changes, kLockWait);
    if (outcome.ok()) {
        configData = outcome.onDisk;
        savedOptions_ = values;
    } else if (outcome.status == plat::MergeOutcome::Status::refused) {
        // A file that exists but cannot be read may still hold the user's settings.
        plat::log("Not overwriting unreadable " + configPath.string());
    } else {
        plat::log("Kelvane: could not write " + configPath.string() + ": " + outcome.error);
    }
    saveStringMap(silencePath(), silenceDict, savedSilence_);
    saveStringMap(puncMapPath(), puncMapDict, savedPuncMap_);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::resetPuncMap() {
    puncMapDict = defaultPuncMapDict();
    createFolder();
    saveStringMap(puncMapPath(), puncMapDict, savedPuncMap_);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::removePuncMapEntry(const std::string& key) {
    puncMapDict.erase(key);
    createFolder();
    saveStringMap(puncMapPath(), puncMapDict, savedPuncMap_);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::setPuncMapEntry(const std::string& key, const std::string& output) {
    puncMapDict[key] = output;
    createFolder();
    saveStringMap(puncMapPath(), puncMapDict, savedPuncMap_);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::addSilenceApp(const std::string& bundleIdentifier, const std::string& name) {
    silenceDict[bundleIdentifier] = name;
    createFolder();
    saveStringMap(silencePath(), silenceDict, savedSilence_);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

void ConfigManager::removeSilenceApp(const std::string& bundleIdentifier) {
    silenceDict.erase(bundleIdentifier);
    createFolder();
    saveStringMap(silencePath(), silenceDict, savedSilence_);
    NotificationSender::post(plat::command::kConfigNeedsReload);
}

} // namespace kelvane
