#include "Platform/Cloud/StoreFolder.h"

#include "Platform/Cloud/CloudRecord.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace plat::cloud {

namespace {

void say(std::string* why, std::string text) {
    if (why) *why = std::move(text);
}

std::string failure(const fs::path& p, int err) { return p.string() + ": " + std::strerror(err); }

// Opens `name` in `dirFd` for reading without waiting on a FIFO (and, unless `followLink`,
// without following a link), and checks that it is a regular file of at most `cap` bytes.
int openRegular(int dirFd, const fs::path& shown, const std::string& name, std::uintmax_t cap, struct stat& st,
                std::string* why, bool followLink = false) {
    const int fd =
        ::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int err = errno;
        say(why, err == ELOOP ? shown.string() + " is a link" : failure(shown, err));
        return -1;
    }
    const char* refused = nullptr;
    if (::fstat(fd, &st) != 0) refused = "cannot be examined";
    else if (!S_ISREG(st.st_mode)) refused = "is not a regular file";
    else if (static_cast<std::uintmax_t>(st.st_size) > cap) refused = "is too large";
    // A hard link made by someone else could name a file this user may read elsewhere.
    else if (!followLink && st.st_nlink > 1) refused = "has other hard links";
    if (refused) {
        const bool tooLarge = S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) > cap;
        say(why, shown.string() + " " + refused +
                     (tooLarge ? " (" + std::to_string(st.st_size) + " bytes, at most " +
                                           std::to_string(cap) + ")"
                                     : std::string()));
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t w = ::write(fd, data, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

// Copies `in` to `out`, at most `cap` bytes: a file that grows beyond it fails.
bool copyBytes(int in, int out, std::uintmax_t cap, const std::function<void(std::uintmax_t)>& step,
               const fs::path& shown, std::string* why) {
    std::uintmax_t total = 0;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            say(why, failure(shown, errno));
            return false;
        }
        if (n == 0) return true;
        total += static_cast<std::uintmax_t>(n);
        if (total > cap) {
            say(why, shown.string() + " grew beyond " + std::to_string(cap) + " bytes");
            return false;
        }
        if (!writeAll(out, buf, static_cast<std::size_t>(n))) {
            say(why, std::string("cannot write: ") + std::strerror(errno));
            return false;
        }
        if (step) step(total);
    }
}

// Writes a new file `name` in `dirFd` through a temporary beside it: `fill` writes the
// bytes, then the temporary is flushed and renamed over `name`. Nothing at `name`
// changes on failure.
bool replaceAt(int dirFd, const fs::path& shown, const std::string& name, const std::function<bool(int)>& fill,
               std::string* why) {
    const std::string tmp = "." + name + "." + makeUUIDString() + ".tmp";
    const int out = ::openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0) {
        say(why, failure(shown / tmp, errno));
        return false;
    }
    bool ok = fill(out);
    if (ok && ::fsync(out) != 0) {
        say(why, failure(shown / tmp, errno));
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        say(why, failure(shown / tmp, errno));
        ok = false;
    }
    if (ok && ::renameat(dirFd, tmp.c_str(), dirFd, name.c_str()) != 0) {
        say(why, failure(shown / name, errno));
        ok = false;
    }
    if (!ok) ::unlinkat(dirFd, tmp.c_str(), 0);
    else ::fsync(dirFd);
    return ok;
}

// Removes what `dirFd` holds, never following a link; folders deeper than a few levels
// are left (the store makes none below its asset folders).
void emptyFolder(int dirFd, int depth) {
    const int listFd = ::dup(dirFd);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        struct stat st {};
        if (::fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries.emplace_back(n, S_ISDIR(st.st_mode));
    }
    ::closedir(dir);
    for (const auto& [n, isDir] : entries) {
        if (!isDir) {
            ::unlinkat(dirFd, n.c_str(), 0);
            continue;
        }
        if (depth <= 0) continue;
        const int sub = ::openat(dirFd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) continue;
        emptyFolder(sub, depth - 1);
        ::close(sub);
        ::unlinkat(dirFd, n.c_str(), AT_REMOVEDIR);
    }
}

} // namespace

std::optional<StoreFolder> StoreFolder::openTop(const fs::path& path, bool create, std::string* why) {
    if (create) {
        std::error_code ec;
        fs::create_directories(path, ec);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        say(why, failure(path, errno));
        return std::nullopt;
    }
    return StoreFolder(fd, path);
}

std::optional<StoreFolder> StoreFolder::child(const std::string& name, bool create, std::string* why) const {
    const fs::path shown = path_ / name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        say(why, shown.string() + " is not a name");
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) return StoreFolder(fd, shown);
        const int err = errno;
        if (err == ENOENT && create && attempt == 0) {
            if (::mkdirat(fd_, name.c_str(), 0777) == 0 || errno == EEXIST) continue;
            say(why, failure(shown, errno));
            return std::nullopt;
        }
        // A link to a folder fails with ELOOP or (O_DIRECTORY first) ENOTDIR.
        struct stat st {};
        const bool link = ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        say(why, link ? shown.string() + " is a link" : failure(shown, err));
        return std::nullopt;
    }
    say(why, failure(shown, ENOENT));
    return std::nullopt;
}

std::vector<std::string> StoreFolder::names() const {
    std::vector<std::string> out;
    const int listFd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return out;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return out;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") out.push_back(n);
    }
    ::closedir(dir);
    return out;
}

StoreFolder::Kind StoreFolder::kindOf(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? Kind::Missing : Kind::Other;
    return S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
}

std::optional<std::uintmax_t> StoreFolder::sizeOf(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uintmax_t>(st.st_size);
}

std::optional<std::string> StoreFolder::read(const std::string& name, std::uintmax_t cap, std::string* why) const {
    struct stat st {};
    const fs::path shown = path_ / name;
    const int fd = openRegular(fd_, shown, name, cap, st, why);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    bool ok = true;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            say(why, failure(shown, errno));
            ok = false;
        }
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    if (got > cap) {
        say(why, shown.string() + " grew beyond " + std::to_string(cap) + " bytes");
        return std::nullopt;
    }
    bytes.resize(got);
    return bytes;
}

bool StoreFolder::write(const std::string& name, std::string_view bytes, std::string* why) const {
    return replaceAt(
        fd_, path_, name,
        [&](int out) {
            if (writeAll(out, bytes.data(), bytes.size())) return true;
            say(why, std::string("cannot write: ") + std::strerror(errno));
            return false;
        },
        why);
}

bool StoreFolder::copyIn(const fs::path& from, const std::string& name, std::uintmax_t cap,
                         const std::function<void(std::uintmax_t)>& step, std::string* why) const {
    struct stat st {};
    const int in = openRegular(AT_FDCWD, from, from.string(), cap, st, why, /*followLink=*/true);
    if (in < 0) return false;
    const bool ok = replaceAt(
        fd_, path_, name, [&](int out) { return copyBytes(in, out, cap, step, from, why); }, why);
    ::close(in);
    return ok;
}

bool StoreFolder::copyOut(const std::string& name, const fs::path& to, std::uintmax_t cap,
                          const std::function<void(std::uintmax_t)>& step, std::string* why) const {
    struct stat st {};
    const fs::path shown = path_ / name;
    const int in = openRegular(fd_, shown, name, cap, st, why);
    if (in < 0) return false;
    const int toFolder = ::open(to.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = toFolder >= 0;
    if (!ok) say(why, failure(to.parent_path(), errno));
    if (ok)
        ok = replaceAt(
            toFolder, to.parent_path(), to.filename().string(),
            [&](int out) { return copyBytes(in, out, cap, step, shown, why); }, why);
    if (toFolder >= 0) ::close(toFolder);
    ::close(in);
    return ok;
}

bool StoreFolder::remove(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(fd_, name.c_str(), 0) == 0;
    const int sub = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) return false;
    emptyFolder(sub, 4);
    ::close(sub);
    return ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0;
}

StoreFolder::StoreFolder(StoreFolder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

StoreFolder& StoreFolder::operator=(StoreFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

StoreFolder::~StoreFolder() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace plat::cloud
