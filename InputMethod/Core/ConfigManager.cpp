#include "InputMethod/Core/ConfigManager.h"

#include <optional>

#include "InputMethod/Core/SettingsFiles.h"
#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"

namespace taviro {
namespace fs = std::filesystem;

namespace {

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

// Writes this object's changes of one string map (base -> current) into its
// file as it is on disk now. Returns whether the file now holds them.
bool saveStringMap(const fs::path& path, const fs::path& lockFile, const StringMap& base,
                   const StringMap& current) {
    const plat::DictionaryChanges changes = plat::stringMapDifference(base, current);
    const auto outcome = plat::mergeIntoDictionaryFile(path, lockFile, changes, ConfigManager::kLockWait);
    if (outcome.status == plat::MergeOutcome::Status::refused)
        plat::log("Not overwriting unreadable " + path.string());
    else if (!outcome.ok())
        plat::log("Cannot write " + path.string() + ": " + outcome.error);
    return outcome.ok();
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
    const auto before = settings();
    auto next = std::make_shared<Settings>(*before);
    change(*next);
    for (const auto& option : kSettingsOptions)
        if (!sameOptionValue(option, *before, *next)) dirty_.emplace(option.key);
    publish(std::move(next));
}

plat::PlistValue ConfigManager::configData() const {
    std::lock_guard lock(mutex_);
    return configData_;
}

void ConfigManager::setUserNotice(std::shared_ptr<UserNotice> notice) {
    std::optional<std::pair<std::string, std::string>> untold;
    {
        std::lock_guard lock(noticeMutex_);
        notice_ = notice;
        if (notice_) untold.swap(untold_);
    }
    if (untold) notice->post(untold->first, untold->second);
}

void ConfigManager::tellUser(const std::string& title, const std::string& text) {
    std::shared_ptr<UserNotice> notice;
    {
        std::lock_guard lock(noticeMutex_);
        notice = notice_;
        if (!notice) untold_.emplace(title, text);
    }
    if (notice) notice->post(title, text);
}

void ConfigManager::loadConfig() {
    std::lock_guard lock(mutex_);
    auto next = std::make_shared<Settings>(*settings());

    std::optional<plat::SetAsideFile> aside;
    const auto file = plat::loadDictionaryFile(configPath_, plat::configLockPath(folder_), kLockWait, &aside);
    if (aside) {
        const std::string name = aside->aside.filename().string();
        plat::log("The settings file " + configPath_.string() + " cannot be used (" + aside->reason +
                  "): it was moved to " + aside->aside.string() + " and the settings start from their defaults");
        const bool tooLarge = aside->state == plat::DictionaryFileRead::State::tooLarge;
        tellUser(tooLarge ? "设置文件过大" : "设置文件已损坏",
                 std::string(tooLarge ? "设置文件过大，未读取" : "设置文件已损坏") + "，原文件已保留为 " + name +
                     "，输入法使用默认设置。");
    } else if (!file.ok() && file.state != plat::DictionaryFileRead::State::missing) {
        plat::log("Cannot read " + configPath_.string() + ": " + file.reason);
    }
    if (file.ok()) {
        configData_ = plat::PlistValue(file.dictionary);
        for (const auto& option : kSettingsOptions) {
            if (!option.loaded) continue;
            auto it = file.dictionary.find(option.key);
            if (it != file.dictionary.end()) loadOption(option, it->second, *next);
        }
    }
    // The lists load even when "config.plist" does not.
    if (auto silence = plat::readStringMapFile(folder_ / silenceFileName())) next->silenceDict = *silence;
    if (auto punc = plat::readStringMapFile(folder_ / punctuationMappingFileName()))
        next->puncMapDict = *punc;

    base_ = next;
    dirty_.clear();
    publish(std::move(next));
}

bool ConfigManager::saveConfig() {
    std::lock_guard lock(mutex_);
    const auto current = settings();
    auto nextBase = std::make_shared<Settings>(*base_);
    const fs::path lockFile = plat::configLockPath(folder_);
    bool saved = true;

    // Written: what this object changed; and where the file lacks an option or
    // holds a value a load would not take as stored, the value in memory.
    plat::DictionaryChanges changes;
    for (const auto& option : kSettingsOptions) {
        const std::string key(option.key);
        const plat::PlistValue value = optionValue(option, *current);
        if (dirty_.contains(key) || !sameOptionValue(option, *current, *base_)) changes.changed.emplace(key, value);
        else changes.fill.emplace(key, value);
    }
    changes.keeps = [](const std::string& key, const plat::PlistValue& stored) {
        const OptionSpec* option = findOption(key);
        return !option || loadsAsStored(*option, stored);
    };
    const auto outcome = plat::mergeIntoDictionaryFile(configPath_, lockFile, changes, kLockWait);
    if (outcome.ok()) {
        configData_ = plat::PlistValue(outcome.onDisk);
        StringMap silence = nextBase->silenceDict, punc = nextBase->puncMapDict;
        *nextBase = *current;
        nextBase->silenceDict = std::move(silence);
        nextBase->puncMapDict = std::move(punc);
        dirty_.clear();
    } else {
        saved = false;
        if (outcome.status == plat::MergeOutcome::Status::refused)
            plat::log("Not overwriting unreadable " + configPath_.string());
        else
            plat::log("Cannot write " + configPath_.string() + ": " + outcome.error);
    }

    if (saveStringMap(folder_ / silenceFileName(), lockFile, base_->silenceDict, current->silenceDict))
        nextBase->silenceDict = current->silenceDict;
    else
        saved = false;
    if (saveStringMap(folder_ / punctuationMappingFileName(), lockFile, base_->puncMapDict, current->puncMapDict))
        nextBase->puncMapDict = current->puncMapDict;
    else
        saved = false;

    base_ = std::move(nextBase);
    return saved;
}

} // namespace taviro
