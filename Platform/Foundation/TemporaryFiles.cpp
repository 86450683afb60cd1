#include "Platform/Foundation/TemporaryFiles.h"

#include "Platform/Foundation/Log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <random>
#include <system_error>

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kAtomicWriteMark = "~taviro-tmp~";
constexpr std::string_view kRebuildMark = "~taviro-new~";
constexpr std::size_t kMinSuffix = 6, kMaxSuffix = 16;

std::string_view markOf(TemporaryKind kind) {
    return kind == TemporaryKind::AtomicWrite ? kAtomicWriteMark : kRebuildMark;
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool lettersOrDigits(std::string_view s) {
    for (char c : s) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!digit && !letter) return false;
    }
    return !s.empty();
}

// A descriptor on `path` itself (never through a link) when it is a regular file of this
// user with one name; -1 otherwise.
int openOwnRegularFile(const fs::path& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when no writer holds the temporary `main`. When the file looked at is the
// temporary itself, `fd` is open on it and keeps the lock taken here until it is closed;
// for a companion `fd` is -1.
bool unheld(const fs::path& main, int fd) {
    if (fd >= 0) return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const int own = ::open(main.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    // A companion whose temporary is gone is left over.
    if (own < 0) return errno == ENOENT;
    const bool free = ::flock(own, LOCK_EX | LOCK_NB) == 0;
    ::close(own);
    return free;
}

} // namespace

std::string temporaryFileName(std::string_view target, TemporaryKind kind, std::string_view suffix) {
    std::string name = ".";
    name += target;
    name += markOf(kind);
    name += suffix;
    return name;
}

std::string temporarySuffix() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (std::size_t i = 0; i < kMaxSuffix; ++i) suffix += letters[rng() % (sizeof letters - 1)];
    return suffix;
}

bool isTemporarySuffix(std::string_view suffix) {
    return suffix.size() >= kMinSuffix && suffix.size() <= kMaxSuffix && lettersOrDigits(suffix);
}

fs::path temporaryPathFor(const fs::path& target, TemporaryKind kind) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = folder / temporaryFileName(target.filename().string(), kind, temporarySuffix());
        if (!fs::exists(fs::symlink_status(p, ec))) return p;
    }
    return {};
}

std::optional<TemporaryName> parseTemporaryName(std::string_view name) {
    for (std::string_view companion : {"-journal", "-wal", "-shm"}) {
        if (endsWith(name, companion)) {
            name.remove_suffix(companion.size());
            break;
        }
    }
    if (name.size() < 2 || name.front() != '.') return std::nullopt;
    for (TemporaryKind kind : {TemporaryKind::AtomicWrite, TemporaryKind::Rebuild}) {
        const std::string_view mark = markOf(kind);
        const auto at = name.rfind(mark);
        if (at == std::string_view::npos || at < 2) continue;
        const std::string_view suffix = name.substr(at + mark.size());
        if (!isTemporarySuffix(suffix)) continue;
        return TemporaryName{kind, std::string(name.substr(1, at - 1)), std::string(name)};
    }
    return std::nullopt;
}

bool WrittenFiles::includes(std::string_view fileName) const {
    for (const auto& n : names)
        if (fileName == n) return true;
    for (const auto& e : endings)
        if (fileName.size() > e.size() && endsWith(fileName, e)) return true;
    return false;
}

std::vector<ProgramFolder> programFolders(const fs::path& perUserFolder, const fs::path& userFolder) {
    WrittenFiles perUser{{"config.plist", "UserDefaults.plist", "Updater.plist", "silence.plist",
                          "PunctuationMapping.plist", "spScheme.plist", ".replace-journal.plist", "user.db", "custom.db",
                          "extended.db", "keys.db", "think.db", "mainCodeTable.database", "assist.database",
                          "sharedTable.db"},
                         {}};
    // Tables, schemes and guide-button tables are named by the user; the copies kept when
    // a shipped file goes back get ".bak".
    return {
        {perUserFolder, std::move(perUser)},
        {userFolder, {{}, {".txt", ".txt.bak"}}},
        {userFolder / "AssistCodes", {{}, {".txt", ".txt.bak"}}},
        {userFolder / "BootButtons", {{}, {".plist"}}},
        {userFolder / "KeyMaps", {{}, {".plist", ".plist.bak"}}},
    };
}

std::vector<fs::path> removeStaleTemporaries(const fs::path& folder, const StaleTemporaryFilter& filter) {
    std::vector<fs::path> removed;
    const std::time_t newest = std::time(nullptr) - static_cast<std::time_t>(filter.minAge.count());
    std::vector<fs::path> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) names.push_back(it->path());
    for (const fs::path& path : names) {
        const auto t = parseTemporaryName(path.filename().string());
        if (!t || (filter.kind && t->kind != *filter.kind) || !filter.targets.includes(t->target)) continue;
        struct stat st {};
        const int fd = openOwnRegularFile(path, st);
        if (fd < 0) continue;
        const bool isMain = path.filename() == t->temporary;
        bool gone = false;
        if ((filter.minAge.count() == 0 || st.st_mtime <= newest) && unheld(folder / t->temporary, isMain ? fd : -1)) {
            // Still the file looked at: a rename since then put another one in its place.
            struct stat now {};
            if (::lstat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
                gone = ::unlink(path.c_str()) == 0;
        }
        ::close(fd);
        if (gone) {
            log("removed the stale temporary " + path.string());
            removed.push_back(path);
        }
    }
    return removed;
}

} // namespace plat
