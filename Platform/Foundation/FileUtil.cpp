#include "Platform/Foundation/FileUtil.h"

#include "Platform/Foundation/TemporaryFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

void setError(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

mode_t currentUmask() {
    // Read from /proc so that no other thread sees a changed umask.
    static const mode_t mask = [] {
        mode_t m = 022;
        if (FILE* f = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, f)) {
                unsigned v = 0;
                if (std::sscanf(line, "Umask: %o", &v) == 1) {
                    m = static_cast<mode_t>(v);
                    break;
                }
            }
            std::fclose(f);
        }
        return m;
    }();
    return mask;
}

} // namespace

namespace {

bool replaceFile(const fs::path& path, std::string_view bytes, bool keepMode, std::string* error) {
    if (path.empty() || !path.has_filename()) {
        if (error) *error = "no file name";
        return false;
    }
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string tmpl = (folder / temporaryFileName(path.filename().string(), TemporaryKind::AtomicWrite, "XXXXXX")).string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        setError(error, "cannot create a temporary file in " + folder.string(), errno);
        return false;
    }
    const fs::path tmp(tmpl);
    // Held while it is written, so that a clean-up of abandoned temporaries passes it by.
    ::flock(fd, LOCK_EX);
    auto fail = [&](const std::string& what) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        setError(error, what, err);
        return false;
    };
    // Keep the mode of the file being replaced, else the usual 0666 & ~umask.
    // A link in its place is replaced, not followed: its target's mode is not taken.
    struct stat st {};
    mode_t mode = (keepMode && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ? (st.st_mode & 07777)
                                                                                        : (0666 & ~currentUmask());
    if (::fchmod(fd, mode) != 0) return fail("cannot set the mode of " + tmp.string());
    if (!writeAll(fd, bytes)) return fail("cannot write " + tmp.string());
    if (::fsync(fd) != 0) return fail("cannot flush " + tmp.string());
    int rc = ::close(fd);
    fd = -1;
    if (rc != 0) return fail("cannot close " + tmp.string());
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail("cannot replace " + path.string());
    syncFolder(folder);
    return true;
}

} // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
    return replaceFile(path, bytes, true, error);
}

bool writeNewFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
    return replaceFile(path, bytes, false, error);
}

std::optional<std::string> readWholeFile(const fs::path& path) {
    // Non-blocking open: a FIFO in the way must not stall the caller.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

fs::path asideName(const fs::path& path, std::string_view tag, std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path.string() + "." + std::string(tag) + "-" + stamp;
    fs::path aside = base;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(aside, ec)); ++n) aside = base + "-" + std::to_string(n);
    return aside;
}

int openFolderBeneath(const fs::path& root, const fs::path& relative) {
    for (const auto& part : relative) {
        if (part == "..") {
            errno = EACCES;
            return -1;
        }
    }
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const auto& part : relative) {
        if (fd < 0) break;
        if (part.empty() || part == "." || part == "/") continue;
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        const int err = errno;
        ::close(fd);
        fd = next;
        errno = err;
    }
    return fd;
}

bool makePrivateFile(const fs::path& path, bool create) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0), 0600);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    if (ok && (st.st_mode & 077) != 0) ok = ::fchmod(fd, st.st_mode & 07700) == 0;
    ::close(fd);
    return ok;
}

bool fsyncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace plat
