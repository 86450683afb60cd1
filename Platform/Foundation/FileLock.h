#pragma once
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace plat {

// An exclusive advisory lock (flock) on a lock file, shared by every process that
// takes a lock on the same path. The lock file is created when missing and never
// removed, so that two processes always lock the same inode. Movable, released by
// the destructor. Waits are bounded: acquire gives up after `timeout`.
class FileLock {
public:
    // std::nullopt when the file cannot be opened or the lock is still held by
    // another process after `timeout`; `error` (when given) says which, and
    // `errorNumber` (when given) is EWOULDBLOCK for the lock held elsewhere, else
    // the errno of the failed open or lock.
    static std::optional<FileLock> acquire(const std::filesystem::path& lockFile,
                                           std::chrono::milliseconds timeout,
                                           std::string* error = nullptr, int* errorNumber = nullptr);

    // The same for the lock file `name` in the open folder `folderFd`, so that no link
    // on the way is followed. A missing lock file is made with `mode` less the umask; one
    // that this user may not write (another account of a shared folder made it) is locked
    // through a read-only descriptor, which flock takes all the same; one of ours that is
    // closed to the group of a group-writable folder is opened to that group. `errorNumber` (when
    // given) is EWOULDBLOCK when another process held the lock until `timeout`, else the
    // errno of the failed open or lock (ENOLCK, EOPNOTSUPP, ... on a file system that
    // takes no locks).
    static std::optional<FileLock> acquireAt(int folderFd, const std::string& name, unsigned mode,
                                             std::chrono::milliseconds timeout,
                                             std::string* error = nullptr, int* errorNumber = nullptr);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : fd_(fd) {}
    static std::optional<FileLock> lockOpened(int fd, const std::string& shownName,
                                              std::chrono::milliseconds timeout, std::string* error,
                                              int* errorNumber);
    void release() noexcept;
    int fd_ = -1;
};

// The lock file that guards "config.plist" (and the plists written beside it)
// in `perUserFolder`. Both programs take it around every read-merge-write.
std::filesystem::path configLockPath(const std::filesystem::path& perUserFolder);

// What is left of a wait that ends at `deadline` (several locks taken in turn
// under one deadline), never below zero.
std::chrono::milliseconds waitLeft(std::chrono::steady_clock::time_point deadline);

} // namespace plat
