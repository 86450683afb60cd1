#include "Platform/Cloud/StoreFolder.h"

#include "Platform/Cloud/CloudRecord.h"
#include "Platform/Foundation/Log.h"

#include <cctype>
#include <cerrno>
#include <ctime>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace plat::cloud {

namespace {

void say(std::string* why, std::string text) {
    if (why) *why = std::move(text);
}

thread_local StoreFolder::Failure last;

// Keeps `err` as this thread's last failure, in `folder`.
void note(int err, const fs::path& folder) { last = {err, folder}; }

std::string failure(const fs::path& p, int err) {
    note(err, p.parent_path());
    return p.string() + ": " + std::strerror(err);
}

// Modes of what the store makes: shared ones leave the rest to the umask (and the
// folder's group), private ones are this account's alone whatever the umask.
mode_t folderMode(bool isPrivate) { return isPrivate ? 0700 : 0777; }
mode_t fileMode(bool isPrivate) { return isPrivate ? 0600 : 0666; }

// Opens `name` in `dirFd` for reading without waiting on a FIFO (and, unless `followLink`,
// without following a link), and checks that it is a regular file of at most `cap` bytes.
int openRegular(int dirFd, const fs::path& shown, const std::string& name, std::uintmax_t cap, struct stat& st,
                std::string* why, bool followLink = false) {
    const int fd =
        ::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int err = errno;
        say(why, err == ELOOP ? shown.string() + " is a link" : failure(shown, err));
        note(err, shown.parent_path());
        return -1;
    }
    const char* refused = nullptr;
    int err = 0;
    if (::fstat(fd, &st) != 0) refused = "cannot be examined", err = errno;
    else if (!S_ISREG(st.st_mode)) refused = "is not a regular file", err = EINVAL;
    else if (static_cast<std::uintmax_t>(st.st_size) > cap) refused = "is too large", err = EFBIG;
    // A hard link made by someone else could name a file this user may read elsewhere.
    else if (!followLink && st.st_nlink > 1) refused = "has other hard links", err = EMLINK;
    if (refused) {
        note(err, shown.parent_path());
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
               const fs::path& shown, const fs::path& toFolder, std::string* why) {
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
            note(EFBIG, shown.parent_path());
            return false;
        }
        if (!writeAll(out, buf, static_cast<std::size_t>(n))) {
            say(why, failure(toFolder / "", errno));
            return false;
        }
        if (step) step(total);
    }
}

// Writes a new file `name` (of `mode` less the umask) in `dirFd` through a temporary
// beside it, held (flock) while it is written: `fill` writes the bytes, then the temporary
// is flushed and renamed over `name`. Nothing at `name` changes on failure.
bool replaceAt(int dirFd, const fs::path& shown, const std::string& name, mode_t mode,
               const std::function<bool(int)>& fill, std::string* why) {
    const std::string tmp = "." + name + "." + makeUUIDString() + ".tmp";
    const int out = ::openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (out < 0) {
        say(why, failure(shown / tmp, errno));
        return false;
    }
    ::flock(out, LOCK_EX | LOCK_NB);
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
    last = {};
    if (create) {
        std::error_code ec;
        fs::create_directories(path, ec);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        say(why, failure(path, errno));
        return std::nullopt;
    }
    return StoreFolder(fd, path, false);
}

std::optional<StoreFolder> StoreFolder::child(const std::string& name, bool create, std::string* why) const {
    last = {};
    const fs::path shown = path_ / name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        say(why, shown.string() + " is not a name");
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) return StoreFolder(fd, shown, private_);
        const int err = errno;
        if (err == ENOENT && create && attempt == 0) {
            if (::mkdirat(fd_, name.c_str(), folderMode(private_)) == 0 || errno == EEXIST) continue;
            say(why, failure(shown, errno));
            return std::nullopt;
        }
        // A link to a folder fails with ELOOP or (O_DIRECTORY first) ENOTDIR.
        struct stat st {};
        const bool link = ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        say(why, link ? shown.string() + " is a link" : failure(shown, err));
        if (link) note(ELOOP, path_);
        return std::nullopt;
    }
    say(why, failure(shown, ENOENT));
    return std::nullopt;
}

std::optional<StoreFolder> StoreFolder::privateChild(const std::string& name, bool create, std::string* why) const {
    last = {};
    const bool valid = !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
    if (create && valid && ::mkdirat(fd_, name.c_str(), 0700) != 0 && errno != EEXIST) {
        say(why, failure(path_ / name, errno));
        return std::nullopt;
    }
    auto dir = child(name, false, why);
    if (!dir) return std::nullopt;
    struct stat st {};
    if (::fstat(dir->fd_, &st) != 0) {
        say(why, failure(dir->path_, errno));
        return std::nullopt;
    }
    if (st.st_uid != ::geteuid()) {
        say(why, dir->path_.string() + " belongs to another account");
        note(EPERM, dir->path_);
        return std::nullopt;
    }
    // Made by an earlier version with the folder's group and the umask. A file system
    // that keeps no modes (a FAT drive) keeps it as it is.
    if ((st.st_mode & 077) != 0 && ::fchmod(dir->fd_, st.st_mode & 07700) != 0)
        plat::log("store: cannot make " + dir->path_.string() + " private: " + std::strerror(errno));
    dir->private_ = true;
    return dir;
}

void StoreFolder::keepEntriesToTheirOwners() const {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_uid == ::geteuid() && !(st.st_mode & S_ISVTX))
        ::fchmod(fd_, (st.st_mode & 07777) | S_ISVTX);
}

StoreFolder::Failure StoreFolder::lastFailure() { return last; }

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
    last = {};
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
    last = {};
    return replaceAt(
        fd_, path_, name, fileMode(private_),
        [&](int out) {
            if (writeAll(out, bytes.data(), bytes.size())) return true;
            say(why, failure(path_ / name, errno));
            return false;
        },
        why);
}

bool StoreFolder::copyIn(const fs::path& from, const std::string& name, std::uintmax_t cap,
                         const std::function<void(std::uintmax_t)>& step, std::string* why) const {
    last = {};
    struct stat st {};
    const int in = openRegular(AT_FDCWD, from, from.string(), cap, st, why, /*followLink=*/true);
    if (in < 0) return false;
    const bool ok = replaceAt(
        fd_, path_, name, fileMode(private_), [&](int out) { return copyBytes(in, out, cap, step, from, path_, why); },
        why);
    ::close(in);
    return ok;
}

bool StoreFolder::copyOut(const std::string& name, const fs::path& to, std::uintmax_t cap,
                          const std::function<void(std::uintmax_t)>& step, std::string* why) const {
    last = {};
    struct stat st {};
    const fs::path shown = path_ / name;
    const int in = openRegular(fd_, shown, name, cap, st, why);
    if (in < 0) return false;
    const int toFolder = ::open(to.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = toFolder >= 0;
    if (!ok) say(why, failure(to.parent_path(), errno));
    if (ok)
        ok = replaceAt(
            toFolder, to.parent_path(), to.filename().string(), fileMode(private_),
            [&](int out) { return copyBytes(in, out, cap, step, shown, to.parent_path(), why); }, why);
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

namespace {

bool isStoreTemporary(const std::string& n) {
    // "." + name + "." + UUID + ".tmp", as replaceAt() names them.
    constexpr std::size_t kUUID = 36;
    if (n.size() < kUUID + 7 || n[0] != '.' || !n.ends_with(".tmp")) return false;
    const std::size_t at = n.size() - 4 - kUUID;
    if (n[at - 1] != '.') return false;
    for (std::size_t i = at; i < at + kUUID; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(n[i])) && n[i] != '-') return false;
    return true;
}

// A descriptor on the regular file `name` in `dirFd` when it is this account's, has one
// name, is at least `age` old and no writer holds it; the lock taken here stays with the
// descriptor. -1 otherwise.
int openAbandoned(int dirFd, const std::string& name, std::chrono::seconds age) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    const std::time_t newest = std::time(nullptr) - static_cast<std::time_t>(age.count());
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
        st.st_mtime > newest || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::vector<std::string> StoreFolder::removeAbandonedTemporaries(std::chrono::seconds age) const {
    std::vector<std::string> removed;
    for (const auto& n : names()) {
        if (!isStoreTemporary(n)) continue;
        const int fd = openAbandoned(fd_, n, age);
        if (fd < 0) continue;
        if (::unlinkat(fd_, n.c_str(), 0) == 0) removed.push_back(n);
        ::close(fd);
    }
    return removed;
}

bool StoreFolder::removeAbandonedFolder(const std::string& name, std::chrono::seconds age) const {
    auto dir = child(name, false, nullptr);
    if (!dir) return false;
    struct stat st {};
    const std::time_t newest = std::time(nullptr) - static_cast<std::time_t>(age.count());
    if (::fstat(dir->fd_, &st) != 0 || st.st_uid != ::geteuid() || st.st_mtime > newest) return false;
    std::vector<std::pair<std::string, int>> held;
    bool whole = true;
    for (const auto& n : dir->names()) {
        const int fd = openAbandoned(dir->fd_, n, age);
        if (fd < 0) {
            whole = false;
            break;
        }
        held.emplace_back(n, fd);
    }
    if (whole)
        for (const auto& [n, fd] : held) whole = ::unlinkat(dir->fd_, n.c_str(), 0) == 0 && whole;
    for (const auto& [n, fd] : held) ::close(fd);
    return whole && ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0;
}

StoreFolder::StoreFolder(StoreFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), private_(other.private_) {
    other.fd_ = -1;
}

StoreFolder& StoreFolder::operator=(StoreFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        private_ = other.private_;
        other.fd_ = -1;
    }
    return *this;
}

StoreFolder::~StoreFolder() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace plat::cloud
