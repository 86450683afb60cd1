#pragma once
#include "Platform/Foundation/Plist.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// Small property-list files whose root is a dictionary, shared by two programs
// that each change some of its keys (the settings files of the per-user folder).
//
// The settings-file functions below (load*, mergeIntoDictionaryFile) follow a
// symbolic link in a file's place when it leads to a regular file of this user
// that has no other hard link: they read that file, and write it by renaming a
// new file over it in its own folder, so that the link stays. Any other link
// (dangling, looping, to a folder, to another account's file, to a file with
// other hard links) counts as something other than a file in its place.
// readDictionaryFile never follows a link.

// Larger files are not settings files: they are refused without being read.
inline constexpr std::uintmax_t kMaxDictionaryFileSize = 1024 * 1024;

struct DictionaryFileRead {
    enum class State {
        missing,    // no file
        readable,   // `dictionary` holds it
        damaged,    // empty, malformed, not UTF-8, or its root is not a dictionary
        tooLarge,   // over the size limit; not read
        notAFile,   // a folder, FIFO, socket or device in its place, or a link not followed
        unreadable, // a file that cannot be opened or read (permissions)
    };
    State state = State::missing;
    PlistValue::Dictionary dictionary;
    std::string reason;     // what is wrong, in English, for the log
    std::string userReason; // the same in Chinese, for the user

    bool ok() const { return state == State::readable; }
    // Damaged, too large or not a file: a thing to set aside.
    bool setAsideWorthy() const {
        return state == State::damaged || state == State::tooLarge || state == State::notAFile;
    }
};

// Looks at the size first, then reads and parses the file. A readable dictionary
// that `accepts` (when set) rejects counts as damaged.
DictionaryFileRead readDictionaryFile(const std::filesystem::path& path,
                                      std::uintmax_t maxSize = kMaxDictionaryFileSize,
                                      const std::function<bool(const PlistValue::Dictionary&)>& accepts = {});

// A file that was found damaged and moved aside.
struct SetAsideFile {
    std::filesystem::path aside; // "<name>.damaged-YYYYmmdd-HHMMSS", numbered when taken
    DictionaryFileRead::State state = DictionaryFileRead::State::damaged; // damaged, tooLarge or notAFile
    std::string reason;     // English, for the log
    std::string userReason; // Chinese, for the user
};

// For the user, in Chinese: "设置文件 <name> <what is wrong>（<why>），原文件已保留为
// <aside name>", without a closing full stop, so that each program adds what follows.
std::string setAsideSentence(const std::filesystem::path& path, const SetAsideFile& aside);

// Reads the file; when it is damaged or too large, takes the lock, looks again
// (another program may have moved it aside and written a new one meanwhile) and
// moves it aside, so that exactly one program does so. The result is what the
// caller may load from: missing after a set-aside. `setAside` (when given) is
// filled only by the caller that moved the file.
DictionaryFileRead loadDictionaryFile(const std::filesystem::path& path,
                                      const std::filesystem::path& lockFile,
                                      std::chrono::milliseconds lockWait,
                                      std::optional<SetAsideFile>* setAside,
                                      std::chrono::system_clock::time_point now =
                                          std::chrono::system_clock::now());

// The same for a file of strings only (the silence list, the punctuation map): one
// holding any other value is damaged. ok(): `dictionary` holds strings only.
DictionaryFileRead loadStringMapFile(const std::filesystem::path& path, const std::filesystem::path& lockFile,
                                     std::chrono::milliseconds lockWait, std::optional<SetAsideFile>* setAside,
                                     std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// The strings of a dictionary read by loadStringMapFile.
std::map<std::string, std::string> stringMapOf(const PlistValue::Dictionary& dictionary);

// What one program changed in a dictionary file.
struct DictionaryChanges {
    // Keys it set (a value) or removed (none) since it last read or wrote the file.
    std::map<std::string, std::optional<PlistValue>> changed;
    // Values stored only where the file lacks the key, or where `keeps` (when
    // set) rejects the value the file holds.
    std::map<std::string, PlistValue> fill;
    std::function<bool(const std::string& key, const PlistValue& stored)> keeps;
    // Written whole instead when there is no file at all.
    std::optional<PlistValue::Dictionary> whenMissing;
    // A readable file this rejects is left as it is (refused).
    std::function<bool(const PlistValue::Dictionary&)> accepts;
};

struct MergeOutcome {
    enum class Status {
        written,         // the file now holds `onDisk`
        refused,         // the file exists but cannot be read: left as it is
        lockTimeout,     // the lock was held by another program past the wait: nothing written
        lockUnavailable, // the lock file cannot be opened or locked: nothing written
        writeFailed,
    };
    Status status = Status::writeFailed;
    // Written: whether the file was replaced (false when it already held the changes).
    bool replaced = false;
    PlistValue::Dictionary onDisk;
    std::string error;
    bool ok() const { return status == Status::written; }
};

// Under the lock: reads the file as it is now (missing: empty), applies the
// changes and writes it atomically. Only the file as read now decides whether
// anything needs writing, never what the caller last saw of it: a file that
// already holds the changes, and one that exists while there is no change to
// write, are left alone without taking the lock; one that cannot be used is
// refused without it. A zero `lockWait` never waits. The folder must exist.
MergeOutcome mergeIntoDictionaryFile(const std::filesystem::path& path, const std::filesystem::path& lockFile,
                                     const DictionaryChanges& changes, std::chrono::milliseconds lockWait);

// A settings file that a save could not write, and why.
struct UnwrittenFile {
    enum class Cause {
        lockHeld, // another program held the lock past the wait
        unusable, // the file, its place or the lock file cannot be used (what stands there, permissions, disk)
    };
    std::string name; // the file name: "config.plist", "silence.plist", ...
    Cause cause = Cause::unusable;
    std::string error; // English, for the log
};

// The file at `path` that `outcome` (not ok) left unwritten.
UnwrittenFile unwrittenFile(const std::filesystem::path& path, const MergeOutcome& outcome);
// For the log: "config.plist: locked by another program (...); silence.plist: cannot be used (...)".
std::string describeUnwritten(const std::vector<UnwrittenFile>& files);

// The changes that turn `before` into `after`, as "changed" entries.
DictionaryChanges dictionaryDifference(const PlistValue::Dictionary& before, const PlistValue::Dictionary& after);

// The same for a file of strings only (the silence list, the punctuation map):
// written whole when missing, and a file holding anything but strings is refused.
DictionaryChanges stringMapDifference(const std::map<std::string, std::string>& before,
                                      const std::map<std::string, std::string>& after);

// `onto` with the entries that turn `before` into `after`: a string map's own changes
// kept on top of what its file holds now.
std::map<std::string, std::string> withStringMapChanges(std::map<std::string, std::string> onto,
                                                        const std::map<std::string, std::string>& before,
                                                        const std::map<std::string, std::string>& after);

} // namespace plat
