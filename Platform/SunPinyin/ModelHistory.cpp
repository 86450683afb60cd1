#include "Platform/SunPinyin/ModelHistory.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolder = "sunpinyin";
constexpr const char* kUnsaved = "unsaved";
constexpr const char* kNote = "model";
constexpr const char* kHistory = "history";
constexpr const char* kUserDict = "userdict";
constexpr const char* kStamp = "model-stamp";
constexpr const char* kAsideTag = "unusable";

using Reason = SunpinyinSetAside::Reason;

std::string hex(std::uint64_t v)
{
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

enum class Kind { absent, regular, link, other };
struct Entry {
    Kind kind = Kind::absent;
    std::uintmax_t size = 0;
    nlink_t names = 0;
};

// What is at `p`, without following a link.
Entry entryAt(const fs::path& p)
{
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0)
        return {errno == ENOENT ? Kind::absent : Kind::other, 0};
    if (S_ISLNK(st.st_mode))
        return {Kind::link, 0};
    if (!S_ISREG(st.st_mode))
        return {Kind::other, 0};
    return {Kind::regular, static_cast<std::uintmax_t>(st.st_size), st.st_nlink};
}

// Whether the file is read by the engine itself (and may be written in place
// by it), rather than by this program.
enum class Reader { program, engine };

// Why the engine must not read what is at `p`; nothing for a regular file of
// at most `maxBytes` or for no file at all. A file of the engine's must also
// have no other name and be readable by this account.
std::optional<Reason> unusable(const fs::path& p, std::uintmax_t maxBytes, Reader reader = Reader::engine)
{
    const Entry e = entryAt(p);
    switch (e.kind) {
    case Kind::absent:
        return std::nullopt;
    case Kind::regular:
        if (e.size > maxBytes)
            return Reason::tooLarge;
        if (reader == Reader::engine && e.names > 1)
            return Reason::hardLink;
        if (reader == Reader::engine && ::faccessat(AT_FDCWD, p.c_str(), R_OK, AT_EACCESS) != 0 && errno == EACCES)
            return Reason::unreadable;
        return std::nullopt;
    case Kind::link:
        return Reason::link;
    case Kind::other:
        break;
    }
    return Reason::notAFile;
}

// Renames `name` in `dir` (a link itself, never its target) to a name of this program's beside it.
bool setAsideIn(const fs::path& dir, const std::string& name, Reason why, std::vector<SunpinyinSetAside>* out)
{
    const fs::path aside = asideName(dir / name, kAsideTag, std::chrono::system_clock::now());
    if (::rename((dir / name).c_str(), aside.c_str()) != 0) {
        log("SunPinyin: " + name + " cannot be used and could not be set aside: " + std::strerror(errno));
        return false;
    }
    if (out)
        out->push_back({name, aside.filename().string(), why});
    return true;
}

// Sets `name` aside when the engine must not read it; false when it could not be.
bool setAsideUnusable(const fs::path& dir, const std::string& name, std::uintmax_t maxBytes,
                      std::vector<SunpinyinSetAside>* out)
{
    const auto why = unusable(dir / name, maxBytes);
    return !why || setAsideIn(dir, name, *why, out);
}

// A name beside `wanted` that is not taken yet: `wanted`, else `wanted`.1, .2 ...
fs::path freeName(const fs::path& wanted)
{
    fs::path p = wanted;
    for (int i = 1; entryAt(p).kind != Kind::absent; ++i)
        p = wanted.string() + "." + std::to_string(i);
    return p;
}

// The bytes of a regular file of at most `maxBytes`, read without following a
// link or waiting on a FIFO; nothing for any other file.
std::optional<std::string> readSmallFile(const fs::path& file, std::uintmax_t maxBytes)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) <= maxBytes) {
        std::string bytes(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = ::read(fd, bytes.data(), bytes.size());
        // Grown past the size seen: not such a file either.
        if (n >= 0 && n <= st.st_size) {
            bytes.resize(static_cast<std::size_t>(n));
            text = std::move(bytes);
        }
    }
    ::close(fd);
    return text;
}

} // namespace

bool isSunpinyinModelIdentity(const std::string& text)
{
    // "<size>-<size>-<hash>": two decimal numbers and 16 lower-case hex digits.
    const auto digits = [](std::string_view s, std::size_t min, std::size_t max, bool hexDigits) {
        if (s.size() < min || s.size() > max)
            return false;
        for (char c : s) {
            if (!((c >= '0' && c <= '9') || (hexDigits && c >= 'a' && c <= 'f')))
                return false;
        }
        return true;
    };
    const std::string_view s = text;
    const auto first = s.find('-');
    const auto second = first == std::string_view::npos ? first : s.find('-', first + 1);
    if (second == std::string_view::npos)
        return false;
    return digits(s.substr(0, first), 1, 20, false) && digits(s.substr(first + 1, second - first - 1), 1, 20, false) &&
           digits(s.substr(second + 1), 16, 16, true);
}

std::string sunpinyinModelIdentity(const fs::path& dataDir)
{
    std::error_code ec;
    const auto slmSize = fs::file_size(dataDir / "lm_sc.t3g", ec);
    if (ec)
        return {};
    std::ifstream dict(dataDir / "pydict_sc.bin", std::ios::binary);
    if (!dict)
        return {};
    // FNV-1a over the dictionary.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    std::uint64_t dictSize = 0;
    char buf[1 << 16];
    while (dict) {
        dict.read(buf, sizeof buf);
        const std::streamsize n = dict.gcount();
        for (std::streamsize i = 0; i < n; ++i) {
            hash ^= static_cast<unsigned char>(buf[i]);
            hash *= 0x100000001b3ull;
        }
        dictSize += static_cast<std::uint64_t>(n);
    }
    return std::to_string(slmSize) + "-" + std::to_string(dictSize) + "-" + hex(hash);
}

namespace {

// What identifies the files as they are on disk now: "" when one is missing.
std::string fileStamp(const fs::path& dataDir)
{
    std::string stamp = fs::absolute(dataDir).lexically_normal().string();
    for (const char* name : {"lm_sc.t3g", "pydict_sc.bin"}) {
        struct stat st {};
        if (::stat((dataDir / name).c_str(), &st) != 0)
            return {};
        // The change time, which no copy or archive tool can set back.
        stamp += "\n" + std::to_string(st.st_size) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
                 std::to_string(st.st_ctim.tv_nsec) + " " + std::to_string(st.st_ino) + " " +
                 std::to_string(st.st_dev);
    }
    return stamp;
}

// A stamp is a path and two short lines; anything longer is not one and is not read.
constexpr std::uintmax_t kMaxStampBytes = 64 * 1024;

// The text without the line feed that ends it.
std::string withoutLineFeed(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

} // namespace

std::string cachedSunpinyinModelIdentity(const fs::path& dataDir, const fs::path& userDir)
{
    const fs::path file = userDir / kStamp;
    const std::string stamp = fileStamp(dataDir);
    if (stamp.empty())
        return sunpinyinModelIdentity(dataDir);
    if (auto text = readSmallFile(file, kMaxStampBytes)) {
        // The stamp, then the identity on the last line.
        const auto cut = text->rfind('\n', text->size() >= 2 ? text->size() - 2 : 0);
        if (cut != std::string::npos && text->substr(0, cut) == stamp) {
            const std::string identity = withoutLineFeed(text->substr(cut + 1));
            if (isSunpinyinModelIdentity(identity))
                return identity;
        }
    }
    const std::string identity = sunpinyinModelIdentity(dataDir);
    // Only a stamp taken before and after the hash that agree is kept.
    if (!identity.empty() && fileStamp(dataDir) == stamp)
        writeNewFileAtomically(file, stamp + "\n" + identity + "\n");
    return identity;
}

bool adoptSunpinyinHistory(const fs::path& userDir, const std::string& identity, std::vector<SunpinyinSetAside>* setAside)
{
    if (!isSunpinyinModelIdentity(identity))
        return false;
    const fs::path note = userDir / kNote;
    const fs::path history = userDir / kHistory;

    // The model of the history: what the note names when it is a note of this
    // program, else unknown. Its text never becomes a name unchecked.
    std::string previous;
    bool strangeNote = false;
    if (const auto why = unusable(note, kMaxSunpinyinNoteBytes, Reader::program)) {
        strangeNote = true;
        setAsideIn(userDir, kNote, *why, setAside);
    } else if (entryAt(note).kind == Kind::regular) {
        const std::string text = withoutLineFeed(readSmallFile(note, kMaxSunpinyinNoteBytes).value_or(""));
        if (isSunpinyinModelIdentity(text))
            previous = text;
        else
            strangeNote = true;
    }

    if (!setAsideUnusable(userDir, kHistory, kMaxSunpinyinHistoryBytes, setAside))
        return false;
    if (previous == identity)
        return true;
    if (entryAt(history).kind == Kind::regular) {
        const fs::path aside = freeName(userDir / (std::string(kHistory) + "-" + (previous.empty() ? "unknown" : previous)));
        if (::rename(history.c_str(), aside.c_str()) != 0) {
            log(std::string("SunPinyin history of another model could not be set aside: ") + std::strerror(errno));
            return false;
        }
        if (setAside)
            setAside->push_back({kHistory, aside.filename().string(),
                                 strangeNote ? Reason::unknownNote : previous.empty() ? Reason::noNote : Reason::otherModel});
    }
    const std::string own = std::string(kHistory) + "-" + identity;
    if (setAsideUnusable(userDir, own, kMaxSunpinyinHistoryBytes, setAside) && entryAt(userDir / own).kind == Kind::regular) {
        if (::rename((userDir / own).c_str(), history.c_str()) != 0)
            log(std::string("SunPinyin history of this model could not be restored: ") + std::strerror(errno));
    }
    std::string error;
    if (!writeNewFileAtomically(note, identity + "\n", &error))
        log("SunPinyin history note not written: " + error);
    return true;
}

bool readySunpinyinUserDict(const fs::path& dir, std::vector<SunpinyinSetAside>* setAside)
{
    return setAsideUnusable(dir, kUserDict, std::numeric_limits<std::uintmax_t>::max(), setAside) &&
           makePrivateFile(dir / kUserDict);
}

// --- the folder --------------------------------------------------------------

SunpinyinUserFolder::SunpinyinUserFolder(SunpinyinUserFolder&& other) noexcept
    : engineDir(std::move(other.engineDir)), setAside(std::move(other.setAside)), held_(std::exchange(other.held_, {}))
{
}

SunpinyinUserFolder& SunpinyinUserFolder::operator=(SunpinyinUserFolder&& other) noexcept
{
    if (this != &other) {
        for (int fd : held_)
            ::close(fd);
        engineDir = std::move(other.engineDir);
        setAside = std::move(other.setAside);
        held_ = std::exchange(other.held_, {});
    }
    return *this;
}

SunpinyinUserFolder::~SunpinyinUserFolder()
{
    for (int fd : held_)
        ::close(fd);
}

namespace {

std::string describe(Reason why)
{
    switch (why) {
    case Reason::otherModel:
        return "it belongs to another model";
    case Reason::noNote:
        return "its model is unknown";
    case Reason::unknownNote:
        return "its model note is not one this program writes";
    case Reason::link:
        return "it is a link";
    case Reason::notAFile:
        return "it is not a regular file";
    case Reason::tooLarge:
        return "it is larger than any file SunPinyin writes";
    case Reason::notAFolder:
        return "it is not a folder";
    case Reason::unreadable:
        return "this account cannot open it";
    case Reason::hardLink:
        return "it has other names too (a hard link)";
    }
    return {};
}

// A path that reaches exactly the folder open as `fd`, whatever is renamed
// meanwhile: its descriptor's entry in /proc; `shown` where /proc is missing.
fs::path reachable(int fd, const fs::path& shown)
{
    const fs::path proc = "/proc/self/fd/" + std::to_string(fd);
    struct stat held {}, seen {};
    if (::fstat(fd, &held) == 0 && ::stat(proc.c_str(), &seen) == 0 && held.st_dev == seen.st_dev &&
        held.st_ino == seen.st_ino)
        return proc;
    return shown;
}

// Opens the folder `name` in `parent` (shown to the user as `shownParent`)
// without following a link: a missing one is made 0700, and a link, another
// file or a folder this account cannot open, read or write in its place is
// set aside first. -1 when none can be had.
int openOwnFolder(const fs::path& parent, const fs::path& shownParent, const std::string& name,
                  std::vector<SunpinyinUserFolder::Moved>& moved)
{
    const int parentFd = openFolderBeneath(parent);
    if (parentFd < 0)
        return -1;
    int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    int err = errno;
    ::close(parentFd);
    if (fd >= 0) {
        if (::faccessat(fd, ".", R_OK | W_OK | X_OK, AT_EACCESS) == 0 || errno != EACCES)
            return fd;
        ::close(fd);
        err = EACCES;
    }
    struct stat st {};
    if (::lstat((parent / name).c_str(), &st) == 0) {
        // Any other trouble with a folder (no memory, too many files open) passes.
        if (S_ISDIR(st.st_mode) && err != EACCES)
            return -1;
        const Reason why = S_ISDIR(st.st_mode) ? Reason::unreadable : S_ISLNK(st.st_mode) ? Reason::link : Reason::notAFolder;
        std::vector<SunpinyinSetAside> files;
        if (!setAsideIn(parent, name, why, &files))
            return -1;
        for (auto& f : files)
            moved.push_back({shownParent, std::move(f)});
    }
    if (::mkdir((parent / name).c_str(), 0700) != 0 && errno != EEXIST) {
        log("SunPinyin: cannot make " + (shownParent / name).string() + ": " + std::strerror(errno));
        return -1;
    }
    return openFolderBeneath(parent, name);
}

} // namespace

SunpinyinUserFolder prepareSunpinyinUserFolder(const fs::path& perUserFolder, const fs::path& dataDir)
{
    SunpinyinUserFolder folder;
    std::error_code ec;
    fs::create_directories(perUserFolder, ec);
    fs::path shown = perUserFolder / kFolder;
    const int fd = openOwnFolder(perUserFolder, perUserFolder, kFolder, folder.setAside);
    if (fd < 0) {
        log("SunPinyin: no folder for its user data in " + perUserFolder.string());
        return folder;
    }
    folder.held_.push_back(fd);
    fs::path dir = reachable(fd, shown);

    std::vector<SunpinyinSetAside> files;
    const bool adopted = adoptSunpinyinHistory(dir, cachedSunpinyinModelIdentity(dataDir, dir), &files);
    for (auto& f : files)
        folder.setAside.push_back({shown, std::move(f)});
    files.clear();
    if (!adopted) {
        // The engine gets a folder of its own for this run.
        const int unsaved = openOwnFolder(dir, shown, kUnsaved, folder.setAside);
        if (unsaved < 0)
            return folder;
        folder.held_.push_back(unsaved);
        shown /= kUnsaved;
        dir = reachable(unsaved, shown);
        log("SunPinyin history of another model could not be set aside: the history of this run is kept in " +
            shown.string());
    }
    // Nothing the engine opens is other than a regular file; its own words are private.
    setAsideUnusable(dir, kHistory, kMaxSunpinyinHistoryBytes, &files);
    readySunpinyinUserDict(dir, &files);
    for (auto& f : files)
        folder.setAside.push_back({shown, std::move(f)});

    for (const auto& moved : folder.setAside)
        log("SunPinyin: " + (moved.folder / moved.file.name).string() + " set aside as " +
            (moved.folder / moved.file.aside).string() + ": " + describe(moved.file.reason));
    folder.engineDir = dir;
    return folder;
}

} // namespace plat
