#include "Platform/Foundation/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace plat {

std::optional<FileLock> FileLock::acquire(const std::filesystem::path& lockFile,
                                          std::chrono::milliseconds timeout, std::string* error,
                                          int* errorNumber) {
    int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (errorNumber) *errorNumber = errno;
        if (error) *error = "cannot open " + lockFile.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return lockOpened(fd, lockFile.string(), timeout, error, errorNumber);
}

std::optional<FileLock> FileLock::acquireAt(int folderFd, const std::string& name, unsigned mode,
                                            std::chrono::milliseconds timeout, std::string* error,
                                            int* errorNumber) {
    int fd = ::openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode));
    if (fd < 0 && errno == EACCES) fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    // A lock file of ours that an earlier version made private to us, in a folder our
    // group may write: the group gets it back, so that its other members can lock it.
    struct stat file {}, folder {};
    if (fd >= 0 && (mode & S_IRWXG) && ::fstat(fd, &file) == 0 && ::fstat(folderFd, &folder) == 0 &&
        file.st_uid == ::geteuid() && (folder.st_mode & S_IWGRP) && (file.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        ::fchmod(fd, (file.st_mode & 07777) | S_IRGRP | S_IWGRP);
    if (fd < 0) {
        if (errorNumber) *errorNumber = errno;
        if (error) *error = "cannot open " + name + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return lockOpened(fd, name, timeout, error, errorNumber);
}

std::optional<FileLock> FileLock::lockOpened(int fd, const std::string& shownName,
                                             std::chrono::milliseconds timeout, std::string* error,
                                             int* errorNumber) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FileLock(fd);
        const int err = errno;
        if (err == EINTR) continue;
        if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            if (errorNumber) *errorNumber = err;
            if (error)
                *error = err == EWOULDBLOCK ? shownName + " is held by another program"
                                            : "cannot lock " + shownName + ": " + std::strerror(err);
            ::close(fd);
            return std::nullopt;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileLock::~FileLock() { release(); }

void FileLock::release() noexcept {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

std::filesystem::path configLockPath(const std::filesystem::path& perUserFolder) {
    return perUserFolder / ".config.plist.lock";
}

std::chrono::milliseconds waitLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max(std::chrono::milliseconds(0), left);
}

} // namespace plat
