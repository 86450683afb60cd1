#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "InputMethod/Core/Settings.h"
#include "Platform/Foundation/Plist.h"

namespace taviro {

// The input method's settings object. It holds the options, the silence list
// and the punctuation map as one immutable Settings snapshot that is swapped
// whole: readers on any thread take settings() once per lookup and never
// see a half-replaced value. Loads, saves and updates are serialised.
//
// Files, in the per-user folder: "config.plist", "silence.plist" and
// "PunctuationMapping.plist". A save merges over a fresh read of each file and
// writes only what this object changed since its last load (plus options the
// file lacks, values a load could not take as stored, and "MoveCusorWhenInput",
// which is never loaded), so edits made meanwhile by the preferences application
// survive; a file that exists but cannot be read is never overwritten. An
// integer outside its key's range loads as the default.
class ConfigManager {
public:
    // The process's instance over the per-user folder; built and loaded on
    // first use.
    static ConfigManager& shared();

    // Defaults, then loadConfig() from `folder`.
    explicit ConfigManager(std::filesystem::path folder);
    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;

    // The current snapshot.
    std::shared_ptr<const Settings> settings() const;

    // Runs `change` on a copy of the current settings and publishes the copy.
    void update(const std::function<void(Settings&)>& change);

    // Reads the three files. A file that is missing or mistyped leaves its
    // part unchanged; a key of the wrong type keeps its value.
    void loadConfig();
    // Writes the changes back to the three files, atomically.
    void saveConfig();

    const std::filesystem::path& configPath() const { return configPath_; }
    // "config.plist" as last read or written, unknown keys included.
    plat::PlistValue configData() const;

private:
    void publish(std::shared_ptr<const Settings> next);

    std::filesystem::path folder_;
    std::filesystem::path configPath_;
    std::shared_ptr<const Settings> current_; // guarded by snapshotMutex_
    mutable std::mutex snapshotMutex_;        // held only to fetch or swap current_
    // What the files held for this object at the last load or save: the
    // reference a save compares against to find this object's own changes.
    std::shared_ptr<const Settings> base_;
    plat::PlistValue configData_;
    mutable std::mutex mutex_;
};

} // namespace taviro
