#pragma once
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "InputMethod/Core/Settings.h"
#include "InputMethod/Core/Database/UserNotice.h"
#include "Platform/Dispatch/BackoffRetry.h"
#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/Plist.h"

namespace taviro {

// The input method's settings object. It holds the options, the silence list
// and the punctuation map as one immutable Settings snapshot that is swapped
// whole: readers on any thread take settings() once per lookup and never
// see a half-replaced value. Loads, saves and updates are serialised.
//
// Files, in the per-user folder: "config.plist", "silence.plist" and
// "PunctuationMapping.plist", shared with the preferences application. A save
// takes the lock both programs use for these files, reads each file as it is
// on disk then, writes into it what this object changed since its last load or
// save (plus options the file lacks and values a load could not take as
// stored) and renames, so that edits made meanwhile by the other program
// survive; a file that exists but cannot be read is never overwritten. A file
// that already holds those changes is not locked. A save never waits for the
// lock: a file it cannot write now keeps its changes in memory, on top of
// every reload, and they are written by a retry on the main queue as soon as
// the file can be written; when that lasts, the user is told once. Only the
// last write at exit (saveBeforeExit) waits, a bounded time. A settings file
// that is damaged or too large to be one (a list file also when it holds
// anything but strings), or that something else stands in place of (a folder,
// a link that is not followed: see DictionaryFile.h), is moved aside with a time
// stamp at load: that part starts from its defaults and the user is told once.
// An integer outside its key's range loads as the default.
class ConfigManager {
public:
    // The process's instance over the per-user folder; built and loaded on
    // first use.
    static ConfigManager& shared();

    // Defaults, then loadConfig() from `folder`.
    explicit ConfigManager(std::filesystem::path folder);
    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;
    // On the main thread, where the retries run.
    ~ConfigManager();

    // The current snapshot.
    std::shared_ptr<const Settings> settings() const;

    // Runs `change` on a copy of the current settings and publishes the copy.
    void update(const std::function<void(Settings&)>& change);

    // Reads the three files. A file that is missing or mistyped leaves its
    // part unchanged; a key of the wrong type keeps its value. Changes that a
    // save could not write yet stay on top of what is read.
    void loadConfig();
    // Writes the changes back to the three files, atomically, without waiting
    // for the lock. False when a file could not be written now; its changes
    // stay pending and are retried on the main queue until written.
    bool saveConfig();

    // At exit: writes what a failed save left pending, waiting up to `lockWait`
    // for the lock. False, with a log line naming what is lost, when it could
    // not (unwrittenFiles() then says which files and why); true when nothing
    // was pending.
    bool saveBeforeExit(std::chrono::milliseconds lockWait = kExitLockWait);
    // Each file that the last save, retry or saveBeforeExit could not write, and
    // why; empty when they wrote everything.
    std::vector<plat::UnwrittenFile> unwrittenFiles() const;

    // Where the message about a damaged "config.plist" goes; one found before
    // this is set is posted here at once.
    void setUserNotice(std::shared_ptr<UserNotice> notice);

    // How long a load or save waits for the other program's lock: not at all,
    // as they run between keys.
    static constexpr std::chrono::milliseconds kLockWait{0};
    // How long the last save at exit waits for it.
    static constexpr std::chrono::milliseconds kExitLockWait{2000};

    const std::filesystem::path& configPath() const { return configPath_; }
    // "config.plist" as last read or written, unknown keys included.
    plat::PlistValue configData() const;

private:
    void publish(std::shared_ptr<const Settings> next);
    void tellUser(const std::string& title, const std::string& text);
    void tellSetAside(const std::filesystem::path& path, const plat::SetAsideFile& aside);
    // Writes what is pending, waiting up to `lockWait` in all for the lock; true
    // when nothing is left. Called under mutex_.
    bool writeChanges(std::chrono::milliseconds lockWait);

    std::filesystem::path folder_;
    std::filesystem::path configPath_;
    std::shared_ptr<const Settings> current_; // guarded by snapshotMutex_
    mutable std::mutex snapshotMutex_;        // held only to fetch or swap current_
    // What the files held for this object at the last load or save: the
    // reference a save compares against to find this object's own changes.
    std::shared_ptr<const Settings> base_;
    // Options changed by update() since the last load or save: written by the
    // next save even when the value is back to what base_ holds.
    std::set<std::string, std::less<>> dirty_;
    plat::PlistValue configData_;
    mutable std::mutex mutex_;
    std::mutex noticeMutex_;
    std::shared_ptr<UserNotice> notice_;                           // guarded by noticeMutex_
    std::vector<std::pair<std::string, std::string>> untold_;     // guarded by noticeMutex_
    bool failing_ = false; // a save failed and nothing has been written since; guarded by mutex_
    std::vector<plat::UnwrittenFile> unwritten_; // what the last write left unwritten; guarded by mutex_
    std::unique_ptr<plat::BackoffRetry> retry_;
};

} // namespace taviro
