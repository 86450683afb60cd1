#include "Settings/ConfigManager.h"

#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Settings/NotificationSender.h"

#include <optional>
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
    retry_ = std::make_unique<plat::BackoffRetry>(
        plat::MainQueue::shared(), [this] { return writePendingAndPost(); },
        [this] {
            plat::log("Kelvane: the settings could not be saved for a while; they are kept and retried");
            saveFailureMessage_ = "设置暂时无法保存：设置文件被输入法占用或无法写入。改动已保留，可以写入时会自动保存。";
            if (noticeListener_) noticeListener_();
        });
}

ConfigManager::~ConfigManager() = default;

namespace {

// A file that exists but cannot be read may still hold the user's settings: it is left.
void logFailure(const std::filesystem::path& path, const plat::MergeOutcome& outcome) {
    if (outcome.status == plat::MergeOutcome::Status::refused)
        plat::log("Not overwriting unreadable " + path.string());
    else
        plat::log("Kelvane: could not write " + path.string() + " now (retrying): " + outcome.error);
}

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

bool ConfigManager::setOption(const ConfigOption& option, const plat::PlistValue& value) {
    switch (option.type) {
    case ConfigOptionType::Bool:
        if (auto b = value.getBool()) {
            this->*option.boolField = *b;
            return true;
        }
        return false;
    case ConfigOptionType::Int:
        if (auto i = value.getInteger()) {
            this->*option.intField = contract::intInRange(option.key, *i) ? *i : option.intDefault;
            return true;
        }
        return false;
    case ConfigOptionType::String:
        if (auto s = value.stringPtr()) {
            this->*option.stringField = *s;
            return true;
        }
        return false;
    }
    return false;
}

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
std::string ConfigManager::takeSaveFailureMessage() { return std::exchange(saveFailureMessage_, {}); }
std::vector<plat::UnwrittenFile> ConfigManager::unwrittenFiles() const {
    return pending_ ? unwritten_ : std::vector<plat::UnwrittenFile>{};
}
void ConfigManager::setNoticeListener(std::function<void()> listener) { noticeListener_ = std::move(listener); }

void ConfigManager::loadConfig() {
    const auto lockFile = plat::configLockPath(folder_);
    auto setAside = [&](const std::filesystem::path& path, const plat::SetAsideFile& aside) {
        if (!setAsideMessage_.empty()) setAsideMessage_ += "\n";
        setAsideMessage_ += plat::setAsideSentence(path, aside) + "。";
        plat::log("Kelvane: the settings file " + path.string() + " cannot be used (" + aside.reason +
                  "): it was moved to " + aside.aside.string());
    };
    auto cannotRead = [](const std::filesystem::path& path, const plat::DictionaryFileRead& read) {
        if (!read.ok() && read.state != plat::DictionaryFileRead::State::missing)
            plat::log("Kelvane: cannot read " + path.string() + ": " + read.reason);
    };
    // A list whose changes are pending keeps them on top of what the file holds now.
    auto loadList = [&](const std::filesystem::path& path, PendingFile file, StringMap& map, StringMap& saved) {
        std::optional<plat::SetAsideFile> aside;
        const auto read = plat::loadStringMapFile(path, lockFile, kLockWait, &aside);
        if (aside) setAside(path, *aside);
        else cannotRead(path, read);
        if (!read.ok()) return;
        StringMap onDisk = plat::stringMapOf(read.dictionary);
        map = (pending_ & file) ? plat::withStringMapChanges(onDisk, saved, map) : onDisk;
        saved = std::move(onDisk);
    };
    loadList(silencePath(), kSilenceFile, silenceDict, savedSilence_);
    loadList(puncMapPath(), kPuncMapFile, puncMapDict, savedPuncMap_);

    std::optional<plat::SetAsideFile> aside;
    const auto file = plat::loadDictionaryFile(configPath, lockFile, kLockWait, &aside);
    if (aside) setAside(configPath, *aside);
    else cannotRead(configPath, file);
    if (!file.ok()) return;
    configData = file.dictionary;
    const plat::PlistValue::Dictionary before = optionValues();
    std::vector<std::string> loadedKeys;
    for (const auto& option : kConfigOptions) {
        auto it = configData.find(option.key);
        if (it == configData.end()) continue;
        if (setOption(option, it->second)) loadedKeys.emplace_back(option.key);
    }
    // A field the file set matches the file; any other keeps what it last saved. A
    // change not yet saved keeps its value and stays to be written.
    const auto values = optionValues();
    for (const auto& key : loadedKeys) {
        const plat::PlistValue& mine = before.at(key);
        const bool unsaved = (pending_ & kConfigFile) && !(savedOptions_[key] == mine);
        savedOptions_[key] = values.at(key);
        if (unsaved) setOption(*findConfigOption(key), mine);
    }
}

void ConfigManager::noteFailure(const std::filesystem::path& path, const plat::MergeOutcome& outcome) {
    if (!failing_) logFailure(path, outcome);
    unwritten_.push_back(plat::unwrittenFile(path, outcome));
}

bool ConfigManager::createFolder() {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    return !ec;
}

plat::MergeOutcome ConfigManager::saveStringMap(const std::filesystem::path& path, const StringMap& map,
                                                StringMap& saved, std::chrono::milliseconds lockWait) {
    const plat::DictionaryChanges changes = plat::stringMapDifference(saved, map);
    const auto outcome =
        plat::mergeIntoDictionaryFile(path, plat::configLockPath(folder_), changes, lockWait);
    if (outcome.ok()) saved = map;
    else noteFailure(path, outcome);
    return outcome;
}

plat::MergeOutcome ConfigManager::saveOptions(std::chrono::milliseconds lockWait) {
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
        plat::mergeIntoDictionaryFile(configPath, plat::configLockPath(folder_), changes, lockWait);
    if (outcome.ok()) {
        configData = outcome.onDisk;
        savedOptions_ = values;
    } else {
        noteFailure(configPath, outcome);
    }
    return outcome;
}

bool ConfigManager::writePendingAndPost(std::chrono::milliseconds lockWait) {
    if (!pending_) return true;
    unwritten_.clear();
    createFolder();
    // One deadline for the three files.
    const auto deadline = std::chrono::steady_clock::now() + lockWait;
    bool wrote = false; // a file now holds changes it did not hold before
    auto write = [&](PendingFile file, const plat::MergeOutcome& outcome) {
        if (!outcome.ok()) return;
        pending_ &= ~static_cast<unsigned>(file);
        wrote = wrote || outcome.replaced;
    };
    if (pending_ & kConfigFile) write(kConfigFile, saveOptions(plat::waitLeft(deadline)));
    if (pending_ & kSilenceFile)
        write(kSilenceFile, saveStringMap(silencePath(), silenceDict, savedSilence_, plat::waitLeft(deadline)));
    if (pending_ & kPuncMapFile)
        write(kPuncMapFile, saveStringMap(puncMapPath(), puncMapDict, savedPuncMap_, plat::waitLeft(deadline)));
    if (wrote || !pending_) NotificationSender::post(plat::command::kConfigNeedsReload);
    if (!pending_ && failing_) plat::log("Kelvane: the settings pending since a failed save are now saved");
    failing_ = pending_ != 0;
    return !pending_;
}

bool ConfigManager::saveBeforeExit(std::chrono::milliseconds lockWait) {
    if (!pending_) return true;
    if (writePendingAndPost(lockWait)) {
        retry_->succeeded();
        return true;
    }
    std::string files;
    for (const auto& file : unwritten_) files += (files.empty() ? "" : "、") + file.name;
    plat::log("Kelvane: the settings changes were NOT saved, the files could not be written before exit: " +
              plat::describeUnwritten(unwritten_));
    saveFailureMessage_ = "设置未能保存：退出时设置文件（" + files + "）被另一个程序占用或无法写入，本次的改动已丢失。";
    return false;
}

void ConfigManager::saveFiles(unsigned files) {
    pending_ |= files;
    if (writePendingAndPost()) retry_->succeeded();
    else retry_->failed();
}

void ConfigManager::save() { saveFiles(kConfigFile | kSilenceFile | kPuncMapFile); }

void ConfigManager::resetPuncMap() {
    puncMapDict = defaultPuncMapDict();
    saveFiles(kPuncMapFile);
}

void ConfigManager::removePuncMapEntry(const std::string& key) {
    puncMapDict.erase(key);
    saveFiles(kPuncMapFile);
}

void ConfigManager::setPuncMapEntry(const std::string& key, const std::string& output) {
    puncMapDict[key] = output;
    saveFiles(kPuncMapFile);
}

void ConfigManager::addSilenceApp(const std::string& bundleIdentifier, const std::string& name) {
    silenceDict[bundleIdentifier] = name;
    saveFiles(kSilenceFile);
}

void ConfigManager::removeSilenceApp(const std::string& bundleIdentifier) {
    silenceDict.erase(bundleIdentifier);
    saveFiles(kSilenceFile);
}

} // namespace kelvane
