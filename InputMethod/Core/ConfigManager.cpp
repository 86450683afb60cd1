#include "InputMethod/Core/ConfigManager.h"

#include <optional>
#include <vector>

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

void copyOption(const OptionSpec& option, const Settings& from, Settings& to) {
    switch (option.type) {
    case OptionType::Bool: to.*option.boolField = from.*option.boolField; break;
    case OptionType::Int: to.*option.intField = from.*option.intField; break;
    case OptionType::String: to.*option.stringField = from.*option.stringField; break;
    }
}

void logFailure(const fs::path& path, const plat::MergeOutcome& outcome) {
    if (outcome.status == plat::MergeOutcome::Status::refused)
        plat::log("Not overwriting unreadable " + path.string());
    else
        plat::log("Cannot write " + path.string() + " now (retrying): " + outcome.error);
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
    retry_ = std::make_unique<plat::BackoffRetry>(
        plat::MainQueue::shared(),
        [this] {
            std::lock_guard lock(mutex_);
            return writeChanges(kLockWait);
        },
        [this] {
            plat::log("The settings could not be saved for a while; they are kept in memory and retried");
            tellUser("设置未能保存", "设置文件暂时无法写入（被其他程序占用或无法访问）。改动已保留，"
                                     "可以写入时会自动保存。");
        });
}

ConfigManager::~ConfigManager() = default;

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
    std::vector<std::pair<std::string, std::string>> untold;
    {
        std::lock_guard lock(noticeMutex_);
        notice_ = notice;
        if (notice_) untold.swap(untold_);
    }
    for (const auto& [title, text] : untold) notice->post(title, text);
}

void ConfigManager::tellUser(const std::string& title, const std::string& text) {
    std::shared_ptr<UserNotice> notice;
    {
        std::lock_guard lock(noticeMutex_);
        notice = notice_;
        if (!notice) untold_.emplace_back(title, text);
    }
    if (notice) notice->post(title, text);
}

void ConfigManager::tellSetAside(const fs::path& path, const plat::SetAsideFile& aside) {
    using State = plat::DictionaryFileRead::State;
    const bool config = path == configPath_;
    plat::log("The settings file " + path.string() + " cannot be used (" + aside.reason + "): it was moved to " +
              aside.aside.string() + (config ? " and the settings start from their defaults" : " and its defaults are used"));
    tellUser(aside.state == State::tooLarge  ? "设置文件过大"
             : aside.state == State::damaged ? "设置文件已损坏"
                                             : "设置文件无法使用",
             plat::setAsideSentence(path, aside) + (config ? "，输入法使用默认设置。" : "，输入法使用其默认内容。"));
}

std::vector<plat::UnwrittenFile> ConfigManager::unwrittenFiles() const {
    std::lock_guard lock(mutex_);
    return unwritten_;
}

void ConfigManager::loadConfig() {
    std::lock_guard lock(mutex_);
    const auto current = settings();
    // What the files hold now, over what they held for this object when changes
    // wait to be written, else over the settings in memory.
    auto nextBase = std::make_shared<Settings>(failing_ ? *base_ : *current);

    std::optional<plat::SetAsideFile> aside;
    const auto file = plat::loadDictionaryFile(configPath_, plat::configLockPath(folder_), kLockWait, &aside);
    if (aside) tellSetAside(configPath_, *aside);
    else if (!file.ok() && file.state != plat::DictionaryFileRead::State::missing)
        plat::log("Cannot read " + configPath_.string() + ": " + file.reason);
    if (file.ok()) {
        configData_ = plat::PlistValue(file.dictionary);
        for (const auto& option : kSettingsOptions) {
            if (!option.loaded) continue;
            auto it = file.dictionary.find(option.key);
            if (it != file.dictionary.end()) loadOption(option, it->second, *nextBase);
        }
    }
    // The lists load even when "config.plist" does not.
    for (auto [name, list] : {std::pair{silenceFileName(), &Settings::silenceDict},
                              std::pair{punctuationMappingFileName(), &Settings::puncMapDict}}) {
        const fs::path path = folder_ / name;
        std::optional<plat::SetAsideFile> listAside;
        const auto read = plat::loadStringMapFile(path, plat::configLockPath(folder_), kLockWait, &listAside);
        if (listAside) tellSetAside(path, *listAside);
        else if (!read.ok() && read.state != plat::DictionaryFileRead::State::missing)
            plat::log("Cannot read " + path.string() + ": " + read.reason);
        if (read.ok()) (*nextBase).*list = plat::stringMapOf(read.dictionary);
    }

    // What this object changed and could not save yet stays on top, to be written
    // by the retry.
    auto next = std::make_shared<Settings>(*nextBase);
    if (failing_) {
        for (const auto& option : kSettingsOptions)
            if (dirty_.contains(option.key)) copyOption(option, *current, *next);
        for (StringMap Settings::*list : {&Settings::silenceDict, &Settings::puncMapDict})
            (*next).*list = plat::withStringMapChanges((*nextBase).*list, (*base_).*list, (*current).*list);
    } else {
        dirty_.clear();
    }

    base_ = std::move(nextBase);
    publish(std::move(next));
}

bool ConfigManager::saveConfig() {
    bool saved = false;
    {
        std::lock_guard lock(mutex_);
        saved = writeChanges(kLockWait);
    }
    if (saved) retry_->succeeded();
    else retry_->failed();
    return saved;
}

bool ConfigManager::saveBeforeExit(std::chrono::milliseconds lockWait) {
    bool saved = false;
    {
        std::lock_guard lock(mutex_);
        if (!failing_) return true;
        saved = writeChanges(lockWait);
        if (!saved) {
            std::string names;
            for (const auto& key : dirty_) names += (names.empty() ? "" : ", ") + key;
            plat::log("The settings changed in this session were NOT saved, the files could not be written before "
                      "exit: " + plat::describeUnwritten(unwritten_) +
                      (names.empty() ? std::string() : "; lost: " + names));
        }
    }
    if (saved) retry_->succeeded();
    return saved;
}

bool ConfigManager::writeChanges(std::chrono::milliseconds lockWait) {
    // One deadline for the three files.
    const auto deadline = std::chrono::steady_clock::now() + lockWait;
    const auto current = settings();
    auto nextBase = std::make_shared<Settings>(*base_);
    const fs::path lockFile = plat::configLockPath(folder_);
    bool saved = true;
    unwritten_.clear();
    auto failed = [&](const fs::path& path, const plat::MergeOutcome& outcome) {
        if (!failing_) logFailure(path, outcome);
        unwritten_.push_back(plat::unwrittenFile(path, outcome));
        saved = false;
    };

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
    const auto outcome = plat::mergeIntoDictionaryFile(configPath_, lockFile, changes, plat::waitLeft(deadline));
    if (outcome.ok()) {
        configData_ = plat::PlistValue(outcome.onDisk);
        StringMap silence = nextBase->silenceDict, punc = nextBase->puncMapDict;
        *nextBase = *current;
        nextBase->silenceDict = std::move(silence);
        nextBase->puncMapDict = std::move(punc);
        dirty_.clear();
    } else {
        failed(configPath_, outcome);
    }

    const struct {
        fs::path path;
        StringMap Settings::*map;
    } lists[] = {{folder_ / silenceFileName(), &Settings::silenceDict},
                 {folder_ / punctuationMappingFileName(), &Settings::puncMapDict}};
    for (const auto& list : lists) {
        const auto written = plat::mergeIntoDictionaryFile(
            list.path, lockFile, plat::stringMapDifference((*base_).*list.map, (*current).*list.map), plat::waitLeft(deadline));
        if (written.ok()) (*nextBase).*list.map = (*current).*list.map;
        else failed(list.path, written);
    }

    base_ = std::move(nextBase);
    if (saved && failing_) plat::log("The settings pending since a failed save are now saved");
    failing_ = !saved;
    return saved;
}

} // namespace taviro
