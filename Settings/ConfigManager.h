#pragma once
#include "Platform/Dispatch/BackoffRetry.h"
#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/ConfigOptions.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

using StringMap = std::map<std::string, std::string>;

// The silence list and the punctuation map as they stand with no files.
StringMap defaultSilenceDict();
StringMap defaultPuncMapDict();

struct ConfigOption;

// The preferences application's settings: every option of "config.plist" as a public
// field, the silence list and the punctuation map. Pages assign fields, then call save().
// Used on the main thread only.
//
// The input method writes the same files while both run. A save takes the lock both
// programs use for them, reads each file as it is on disk then, writes into it only the
// options and entries this object changed since its last load or save (and options the
// file lacks or holds as a value of the wrong type), and renames; what the input method
// stored meanwhile survives. Keys this program does not know survive as well. A
// "config.plist" that exists but cannot be read is never overwritten; a file that
// already holds this object's changes is not locked. Nothing waits for the lock: a file
// that cannot be written now keeps its changes pending (also across loads), and they
// are retried on the main queue until written, with the user told once when that
// lasts; only the last write at quit (saveBeforeExit) waits, a bounded time. A file
// that is damaged or too large to be a settings file (a list file also when it holds
// anything but strings), or that something else stands in place of (a folder, a link
// that is not followed: see DictionaryFile.h), is moved aside with a time stamp at load
// (logged, and said by takeSetAsideMessage), and what it would have set keeps its value. An integer outside its key's range
// (the shared key table) loads as the default.
class ConfigManager {
public:
    // The process's instance over the per-user folder, loaded on first use.
    static ConfigManager& shared();

    // Defaults, then loadConfig() from `folder`.
    explicit ConfigManager(std::filesystem::path folder);
    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;

    // On the main thread, where the retries run.
    ~ConfigManager();

    // Fills the fields from the three files. Missing or mistyped files and values leave
    // what they would have set unchanged; changes not yet saved stay. Posts nothing.
    void loadConfig();
    // Changes not yet saved are given up (a restored backup replaces them); the fields
    // keep their values until the next load.
    void discardPendingChanges() { pending_ = 0; }
    // Whether a save left changes to be written by a retry.
    bool hasPendingChanges() const { return pending_ != 0; }
    // The message of the loads that moved a damaged settings file aside; empty when
    // none did. Cleared by the call.
    std::string takeSetAsideMessage();

    // The message of a save that still could not be written after its retries; empty
    // when there is none. Cleared by the call.
    std::string takeSaveFailureMessage();
    // Called on the main thread when a message arises outside a call of the window's
    // (a save that keeps failing); nullptr for none.
    void setNoticeListener(std::function<void()> listener);

    // How long a load or save waits for the input method's lock: not at all, so that
    // the window never waits.
    static constexpr std::chrono::milliseconds kLockWait{0};
    // At exit: writes what is pending (and posts as save() does), waiting up to
    // `lockWait` for the lock. False, with a log line and the save-failure message
    // saying what was not saved, when it could not; true when nothing was pending.
    bool saveBeforeExit(std::chrono::milliseconds lockWait = kExitLockWait);
    // Each file that the last save, retry or saveBeforeExit could not write, and why;
    // empty when nothing is pending.
    std::vector<plat::UnwrittenFile> unwrittenFiles() const;
    static constexpr std::chrono::milliseconds kExitLockWait{2000};
    // Writes the fields into configData and the three files atomically (creating the
    // folder), then posts "configNeedsReload". A file that cannot be written now is
    // retried on the main queue; nothing is posted for a round that wrote nothing, and
    // the post follows the retry that writes. A failed write is logged.
    void save();

    // Each changes one dictionary, writes its file and posts "configNeedsReload", as
    // save() does.
    void resetPuncMap();
    void removePuncMapEntry(const std::string& key);
    void setPuncMapEntry(const std::string& key, const std::string& output);
    void addSilenceApp(const std::string& bundleIdentifier, const std::string& name);
    void removeSilenceApp(const std::string& bundleIdentifier);

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path silencePath() const { return folder_ / "silence.plist"; }
    std::filesystem::path puncMapPath() const { return folder_ / "PunctuationMapping.plist"; }

    // The whole dictionary last read from "config.plist", with this program's options
    // written into it by the last save.
    plat::PlistValue::Dictionary configData;
    StringMap silenceDict = defaultSilenceDict();
    StringMap puncMapDict = defaultPuncMapDict();
    // The full path of "config.plist".
    std::filesystem::path configPath;

#define KELVANE_DECLARE_BOOL(field, key, def) bool field = def;
#define KELVANE_DECLARE_INT(field, key, def) int64_t field = def;
#define KELVANE_DECLARE_STRING(field, key, def) std::string field = def;
    KELVANE_CONFIG_OPTIONS(KELVANE_DECLARE_BOOL, KELVANE_DECLARE_INT, KELVANE_DECLARE_STRING)
#undef KELVANE_DECLARE_BOOL
#undef KELVANE_DECLARE_INT
#undef KELVANE_DECLARE_STRING

private:
    enum PendingFile : unsigned { kConfigFile = 1, kSilenceFile = 2, kPuncMapFile = 4 };
    bool createFolder();
    // Logs a failed write (the first of a run of failures) and keeps why it failed.
    void noteFailure(const std::filesystem::path& path, const plat::MergeOutcome& outcome);
    // Marks `files` as changed and writes what is pending.
    void saveFiles(unsigned files);
    // Writes the pending files and posts "configNeedsReload" when one was replaced or
    // nothing is left; true when nothing is left.
    bool writePendingAndPost(std::chrono::milliseconds lockWait = kLockWait);
    // Write one file's changes since its last load or save.
    plat::MergeOutcome saveStringMap(const std::filesystem::path& path, const StringMap& map, StringMap& saved,
                                     std::chrono::milliseconds lockWait);
    plat::MergeOutcome saveOptions(std::chrono::milliseconds lockWait);
    plat::PlistValue::Dictionary optionValues() const;
    // Sets the field from a value of its type; false (unchanged) for any other.
    bool setOption(const ConfigOption& option, const plat::PlistValue& value);

    std::filesystem::path folder_;
    // What the files held for this object at the last load or save: a save writes
    // what differs from these.
    plat::PlistValue::Dictionary savedOptions_;
    StringMap savedSilence_ = defaultSilenceDict();
    StringMap savedPuncMap_ = defaultPuncMapDict();
    std::string setAsideMessage_;
    unsigned pending_ = 0; // PendingFile bits: files whose changes are not written yet
    bool failing_ = false; // a save failed and nothing has been written since
    std::string saveFailureMessage_;
    std::vector<plat::UnwrittenFile> unwritten_; // the files the last write left pending, and why
    std::function<void()> noticeListener_;
    std::unique_ptr<plat::BackoffRetry> retry_;
};

enum class ConfigOptionType { Bool, Int, String };

// One row of the option table; the field pointer matching `type` is set.
struct ConfigOption {
    std::string_view key;
    ConfigOptionType type;
    bool boolDefault = false;
    int64_t intDefault = 0;
    std::string_view stringDefault;
    bool ConfigManager::*boolField = nullptr;
    int64_t ConfigManager::*intField = nullptr;
    std::string ConfigManager::*stringField = nullptr;
};

#define KELVANE_SPEC_BOOL(field, key, def) \
    ConfigOption{key, ConfigOptionType::Bool, def, 0, {}, &ConfigManager::field, nullptr, nullptr},
#define KELVANE_SPEC_INT(field, key, def) \
    ConfigOption{key, ConfigOptionType::Int, false, def, {}, nullptr, &ConfigManager::field, nullptr},
#define KELVANE_SPEC_STRING(field, key, def) \
    ConfigOption{key, ConfigOptionType::String, false, 0, def, nullptr, nullptr, &ConfigManager::field},
inline constexpr ConfigOption kConfigOptions[] = {
    KELVANE_CONFIG_OPTIONS(KELVANE_SPEC_BOOL, KELVANE_SPEC_INT, KELVANE_SPEC_STRING)};
#undef KELVANE_SPEC_BOOL
#undef KELVANE_SPEC_INT
#undef KELVANE_SPEC_STRING

static_assert(std::size(kConfigOptions) == 93);

// The option with this key, or nullptr.
const ConfigOption* findConfigOption(std::string_view key);

} // namespace kelvane
