#include "InputMethod/Core/ConfigManager.h"

#include <optional>
#include <system_error>

#include "InputMethod/Core/SettingsFiles.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"

namespace taviro {
namespace fs = std::filesystem;

namespace {

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool writePlist(const fs::path& path, const plat::PlistValue& value) {
    std::string error;
    if (plat::writePlistFile(path, value, &error)) return true;
    plat::log("Cannot write " + path.string() + ": " + error);
    return false;
}

// Sets the option from a value of exactly its type; an integer outside the key's
// range gives the default. A value of another type is ignored.
void loadOption(const OptionSpec& option, const plat::PlistValue& value, Settings& settings) {
    switch (option.type) {
    case OptionType::Bool:
        if (value.isBool()) settings.*option.boolField = *value.getBool();
        break;
    case OptionType::Int:
        if (value.isInteger()) {
            const std::int64_t n = *value.getInteger();
            settings.*option.intField = contract::intInRange(option.key, n) ? n : option.intDefault;
        }
        break;
    case OptionType::String:
        if (const std::string* s = value.stringPtr()) settings.*option.stringField = *s;
        break;
    }
}

// Whether a load takes the stored value as it stands.
bool loadsAsStored(const OptionSpec& option, const plat::PlistValue& value) {
    switch (option.type) {
    case OptionType::Bool: return value.isBool();
    case OptionType::Int:
        return value.isInteger() && contract::intInRange(option.key, *value.getInteger());
    case OptionType::String: return value.stringPtr() != nullptr;
    }
    return false;
}

plat::PlistValue optionValue(const OptionSpec& option, const Settings& settings) {
    switch (option.type) {
    case OptionType::Bool: return plat::PlistValue(settings.*option.boolField);
    case OptionType::Int:
        return plat::PlistValue(static_cast<long long>(settings.*option.intField));
    case OptionType::String: return plat::PlistValue(settings.*option.stringField);
    }
    return {};
}

// Writes this object's changes of one string map (base -> current) over a
// fresh read of its file. Returns whether the file now holds them.
bool saveStringMap(const fs::path& path, const StringMap& base, const StringMap& current) {
    auto fresh = plat::readStringMapFile(path);
    if (!fresh) {
        if (fileExists(path)) {
            plat::log("Not overwriting unreadable " + path.string());
            return false;
        }
        return writePlist(path, plat::stringMapToPlist(current));
    }
    StringMap merged = *fresh;
    for (const auto& [key, value] : base)
        if (!current.contains(key)) merged.erase(key);
    for (const auto& [key, value] : current) {
        auto it = base.find(key);
        if (it == base.end() || it->second != value) merged[key] = value;
    }
    if (merged == *fresh) return true;
    return writePlist(path, plat::stringMapToPlist(merged));
}

} // namespace

ConfigManager& ConfigManager::shared() {
    static ConfigManager* const instance = new ConfigManager(plat::Paths::perUserFolder());
    return *instance;
}

ConfigManager::ConfigManager(fs::path folder)
    : folder_(std::move(folder)),
      configPath_(folder_ / "config.plist"),
      current_(std::make_shared<const Settings>()),
      base_(current_),
      configData_(plat::PlistValue::dictionary()) {
    loadConfig();
}

std::shared_ptr<const Settings> ConfigManager::settings() const {
    std::lock_guard lock(snapshotMutex_);
    return current_;
}

void ConfigManager::publish(std::shared_ptr<const Settings> next) {
    std::lock_guard lock(snapshotMutex_);
    current_.swap(next);
}

void ConfigManager::update(const std::function<void(Settings&)>& change) {
    std::lock_guard lock(mutex_);
    auto next = std::make_shared<Settings>(*settings());
    change(*next);
    publish(std::move(next));
}

plat::PlistValue ConfigManager::configData() const {
    std::lock_guard lock(mutex_);
    return configData_;
}

void ConfigManager::loadConfig() {
    std::lock_guard lock(mutex_);
    auto next = std::make_shared<Settings>(*settings());

    if (auto file = plat::readPlistFile(configPath_, plat::PlistValue::Type::Dictionary)) {
        configData_ = *file;
        for (const auto& option : kSettingsOptions) {
            if (!option.loaded) continue;
            if (const plat::PlistValue* value = file->find(option.key))
                loadOption(option, *value, *next);
        }
    }
    // The lists load even when "config.plist" does not.
    if (auto silence = plat::readStringMapFile(folder_ / silenceFileName())) next->silenceDict = *silence;
    if (auto punc = plat::readStringMapFile(folder_ / punctuationMappingFileName()))
        next->puncMapDict = *punc;

    base_ = next;
    publish(std::move(next));
}

void ConfigManager::saveConfig() {
    std::lock_guard lock(mutex_);
    const auto current = settings();
    auto nextBase = std::make_shared<Settings>(*base_);

    auto fresh = plat::readPlistFile(configPath_, plat::PlistValue::Type::Dictionary);
    if (!fresh && fileExists(configPath_)) {
        plat::log("Not overwriting unreadable " + configPath_.string());
    } else {
        plat::PlistValue dict = fresh ? *fresh : plat::PlistValue::dictionary();
        // Written: what this object changed, what the file lacks, what a load could
        // not take as stored (it holds the value loaded in its place), and the options
        // that are never loaded.
        for (const auto& option : kSettingsOptions) {
            const std::string key(option.key);
            const plat::PlistValue* stored = dict.find(key);
            if (!stored || !option.loaded || !loadsAsStored(option, *stored) ||
                !sameOptionValue(option, *current, *base_))
                dict[key] = optionValue(option, *current);
        }
        if ((fresh && dict == *fresh) || writePlist(configPath_, dict)) {
            configData_ = dict;
            StringMap silence = nextBase->silenceDict, punc = nextBase->puncMapDict;
            *nextBase = *current;
            nextBase->silenceDict = std::move(silence);
            nextBase->puncMapDict = std::move(punc);
        }
    }

    if (saveStringMap(folder_ / silenceFileName(), base_->silenceDict, current->silenceDict))
        nextBase->silenceDict = current->silenceDict;
    if (saveStringMap(folder_ / punctuationMappingFileName(), base_->puncMapDict,
                      current->puncMapDict))
        nextBase->puncMapDict = current->puncMapDict;

    base_ = std::move(nextBase);
}

} // namespace taviro
