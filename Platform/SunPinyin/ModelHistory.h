#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace plat {

// SunPinyin records the user's history ("history" in its user data folder) by
// word id, and word ids belong to one model. The folder therefore notes in
// "model" which model its history belongs to; on a change of model the
// history is set aside as "history-<identity of its model>" (never read, never
// deleted) and the new model's own history, if one was set aside before, comes
// back.

// The engine keeps at most 8192 word ids of 4 bytes (32 KiB) in "history";
// anything larger is not one of its histories.
inline constexpr std::uintmax_t kMaxSunpinyinHistoryBytes = std::uintmax_t{1} << 20;
// "model" holds one identity and a line feed (under 60 bytes).
inline constexpr std::uintmax_t kMaxSunpinyinNoteBytes = 128;

// A fingerprint of the model files in `dataDir` (lm_sc.t3g, pydict_sc.bin):
// their sizes and a hash of the dictionary, which holds every word by id:
// "<size>-<size>-<16 hex digits>". "" when the files cannot be read.
std::string sunpinyinModelIdentity(const std::filesystem::path& dataDir);

// Whether `text` has the form of an identity.
bool isSunpinyinModelIdentity(const std::string& text);

// The same identity, remembered in `userDir` ("model-stamp") together with the
// folder, sizes, change times (ctime, which tools that copy or unpack files
// cannot set) and inodes of the two files: while none of them changes, the
// dictionary is not read again.
std::string cachedSunpinyinModelIdentity(const std::filesystem::path& dataDir, const std::filesystem::path& userDir);

// A file of the folder moved out of the way, under a name in the same folder.
struct SunpinyinSetAside {
    enum class Reason {
        otherModel,   // a history of another model, kept for its return
        noNote,       // a history from before the notes
        unknownNote,  // a history whose "model" is not a note this program writes
        link,         // a link in the place of a file or folder
        notAFile,     // a folder, FIFO, socket or device in the place of a file
        tooLarge,     // larger than any file the engine writes
        notAFolder,   // a file, FIFO, socket or device in the place of a folder
        unreadable,   // a file or folder this account cannot open
        hardLink,     // a file of the engine's that has other names too
    };
    std::string name;   // its name before
    std::string aside;  // its name now
    Reason reason;
    // Whether the user is told: everything but the routine change of model.
    bool tell() const { return reason != Reason::otherModel && reason != Reason::noNote; }
};

// Makes "history" in `userDir` the one written against the model `identity`.
// The note is read only when it is a small regular file (links are not
// followed); any other note means an unknown model. A history that is not a
// regular file of at most kMaxSunpinyinHistoryBytes, or a note that is not a
// regular file, is set aside without being read. What was set aside is added
// to `setAside`. False when `identity` is not one, or the history of another
// model could not be set aside; the caller must then not let the engine read
// the folder's history.
bool adoptSunpinyinHistory(const std::filesystem::path& userDir, const std::string& identity,
                           std::vector<SunpinyinSetAside>* setAside = nullptr);

// Makes "userdict" (the engine's own words) in `dir` a regular file of its
// owner's alone, made 0600 when missing: a link, a file with other names, a
// file this account cannot read or anything but a regular file is set aside
// first (and added to `setAside`). False when none could be had.
bool readySunpinyinUserDict(const std::filesystem::path& dir, std::vector<SunpinyinSetAside>* setAside = nullptr);

// The engine's user-data folder ("sunpinyin" in `perUserFolder`) made ready
// for the model in `dataDir`: opened without following a link (a link,
// another file or a folder this account cannot use in its place is set aside,
// a missing folder is made 0700), its history adopted, and its files checked:
// the engine reads none that is not a regular file it can read, and none with
// other names, and "userdict" is its owner's alone.
struct SunpinyinUserFolder {
    SunpinyinUserFolder() = default;
    SunpinyinUserFolder(SunpinyinUserFolder&& other) noexcept;
    SunpinyinUserFolder& operator=(SunpinyinUserFolder&& other) noexcept;
    ~SunpinyinUserFolder();

    // The folder the engine is given, held open while this object lives;
    // `engineDir` reaches exactly it. Empty when no folder could be had.
    std::filesystem::path engineDir;
    // Files and folders set aside, each with its folder (as the user knows it).
    struct Moved {
        std::filesystem::path folder;
        SunpinyinSetAside file;
    };
    std::vector<Moved> setAside;

private:
    friend SunpinyinUserFolder prepareSunpinyinUserFolder(const std::filesystem::path&, const std::filesystem::path&);
    std::vector<int> held_;
};
SunpinyinUserFolder prepareSunpinyinUserFolder(const std::filesystem::path& perUserFolder,
                                               const std::filesystem::path& dataDir);

} // namespace plat
