#include "Platform/Foundation/TemporaryFiles.h"

#include "Platform/Foundation/Log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <system_error>

namespace plat {

namespace fs = std::filesystem;

namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool allDigits(std::string_view s, bool lettersToo = false) {
    for (char c : s) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!digit && !(lettersToo && letter)) return false;
    }
    return !s.empty();
}

// True when a process holds an flock on the file.
bool held(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return busy;
}

} // namespace

std::optional<TemporaryName> parseTemporaryName(std::string_view name) {
    for (std::string_view companion : {"-journal", "-wal", "-shm"}) {
        if (endsWith(name, companion)) {
            name.remove_suffix(companion.size());
            break;
        }
    }
    // ".<name>.tmp.<suffix>"
    if (name.size() > 1 && name.front() == '.') {
        const auto at = name.rfind(".tmp.");
        if (at != std::string_view::npos && at > 1) {
            const std::string_view suffix = name.substr(at + 5);
            if (suffix.size() >= 6 && suffix.size() <= 16 && allDigits(suffix, true))
                return TemporaryName{TemporaryKind::AtomicWrite, std::string(name.substr(1, at - 1)),
                                     std::string(name)};
        }
    }
    // "<name>.new-<digits>-<digits>"
    const auto at = name.rfind(".new-");
    if (at != std::string_view::npos && at > 0) {
        const std::string_view rest = name.substr(at + 5);
        const auto dash = rest.find('-');
        if (dash != std::string_view::npos && allDigits(rest.substr(0, dash)) && allDigits(rest.substr(dash + 1)))
            return TemporaryName{TemporaryKind::Rebuild, std::string(name.substr(0, at)), std::string(name)};
    }
    return std::nullopt;
}

std::vector<fs::path> removeStaleTemporaries(const fs::path& folder, const StaleTemporaryFilter& filter) {
    std::vector<fs::path> stale;
    const std::time_t newest = std::time(nullptr) - static_cast<std::time_t>(filter.minAge.count());
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto t = parseTemporaryName(it->path().filename().string());
        if (!t || (filter.kind && t->kind != *filter.kind) || (!filter.target.empty() && t->target != filter.target))
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        if (filter.minAge.count() > 0 && st.st_mtime > newest) continue;
        if (held(folder / t->temporary)) continue;
        stale.push_back(it->path());
    }
    for (const auto& path : stale) {
        fs::remove(path, ec);
        log("removed the stale temporary " + path.string());
    }
    return stale;
}

} // namespace plat
