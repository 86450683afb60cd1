#include "SharedLib/sqlkit/SQLOwnFile.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sqlkit {

static_assert(SQLOwnFile::kOpenNoFollow == SQLITE_OPEN_NOFOLLOW);

namespace {

namespace fs = std::filesystem;

constexpr const char* kCompanions[] = {"-journal", "-wal", "-shm"};
constexpr const char* kAsideTag = "unusable";

struct Unfit {
    const char* reason = nullptr;
    const char* reasonForUser = nullptr;
};

// Why what is at `p` must not be opened in place, nothing when it may (or is absent).
Unfit unfit(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return {};
    if (S_ISLNK(st.st_mode)) return {"is a symbolic link", "是一个链接"};
    if (S_ISREG(st.st_mode) && st.st_nlink > 1) return {"has other hard links", "另有硬链接"};
    return {};
}

bool isRegular(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

SQLOwnFile::Prepared SQLOwnFile::prepare(const fs::path& path, const Options& options) {
    Prepared out;
    const std::string base = path.string();
    const auto setAside = [&](const fs::path& p, const Unfit& why) {
        const fs::path aside = plat::asideName(p, kAsideTag, options.when);
        if (::rename(p.c_str(), aside.c_str()) != 0) {
            if (out.refused.empty())
                out.refused = p.string() + " " + why.reason + " and could not be moved aside (" +
                              std::strerror(errno) + ")";
            return fs::path();
        }
        plat::log(p.string() + " " + why.reason + ": it was moved to " + aside.string() + " and is not used");
        out.setAside.push_back({p, aside, why.reason, why.reasonForUser});
        return aside;
    };
    if (const Unfit why = unfit(path); why.reason) {
        const fs::path aside = setAside(path, why);
        if (!aside.empty()) {
            // The journals hold changes to the content that went: they go with it.
            for (const char* suffix : kCompanions) {
                const fs::path companion = base + suffix;
                if (isRegular(companion) && !unfit(companion).reason)
                    ::rename(companion.c_str(), (aside.string() + suffix).c_str());
            }
        }
    }
    for (const char* suffix : kCompanions)
        if (const Unfit why = unfit(base + suffix); why.reason) setAside(base + suffix, why);
    if (!out.refused.empty()) return out;

    if (options.makePrivate) {
        plat::makePrivateFile(path, options.create);
        for (const char* suffix : kCompanions) plat::makePrivateFile(base + suffix, false);
    } else if (options.create) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd >= 0) ::close(fd);
    }
    return out;
}

std::string SQLOwnFile::openName(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = fs::canonical(path.has_parent_path() ? path.parent_path() : fs::path("."), ec);
    if (ec || !path.has_filename()) return path.string();
    return (folder / path.filename()).string();
}

std::string SQLOwnFile::noticeText(const std::vector<SQLSetAside>& setAside) {
    std::string text;
    for (const auto& s : setAside)
        text += s.path.filename().string() + " " + s.reasonForUser + "，未被使用，已改名为 " + s.aside.filename().string() +
                "。";
    return text;
}

} // namespace sqlkit
