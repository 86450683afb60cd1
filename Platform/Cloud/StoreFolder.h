#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::cloud {

// An open folder of a folder store. Every file and folder below the store's own folder
// is reached from an open folder by one name, and no link is ever followed there: a
// link (or any other odd entry) where a folder or file should be is refused, so files
// that other accounts can write never lead a read, a write or a removal out of the
// store. Move-only; the descriptor closes with it.
class StoreFolder {
public:
    // The folder the user chose (links on the way to it are the user's own and are
    // followed), made when missing and `create` is set.
    static std::optional<StoreFolder> openTop(const std::filesystem::path& path, bool create, std::string* why);

    // The sub-folder `name`: a real folder, never a link; made when missing and `create`.
    std::optional<StoreFolder> child(const std::string& name, bool create, std::string* why) const;

    // The sub-folder `name` as a folder of this account alone: made 0700 whatever the umask,
    // one made wider by an earlier version is narrowed, one of another owner is refused.
    // Everything made below it is this account's alone too (folders 0700, files 0600).
    std::optional<StoreFolder> privateChild(const std::string& name, bool create, std::string* why) const;

    // Sets the sticky bit on this folder when this account owns it, so that others who may
    // write it cannot remove or rename what they do not own.
    void keepEntriesToTheirOwners() const;

    // Whether what is made below is private to this account.
    bool isPrivate() const { return private_; }

    // The system's error and the folder of the last failure of this thread's StoreFolder
    // calls ("why" says it in words): EACCES, ENOSPC, ELOOP (a link), EMLINK (a file with
    // other hard links), EFBIG (too large) and the like.
    struct Failure {
        int err = 0;
        std::filesystem::path folder;
    };
    static Failure lastFailure();

    const std::filesystem::path& path() const { return path_; }
    int fd() const { return fd_; }

    // Names of the entries (not "." and "..").
    std::vector<std::string> names() const;

    enum class Kind { Missing, File, Other };
    // What the entry `name` is, without following a link ("Other" for a link).
    Kind kindOf(const std::string& name) const;
    // The size of the regular file `name`; nothing for anything else.
    std::optional<std::uintmax_t> sizeOf(const std::string& name) const;

    // The bytes of the regular file `name` when it holds at most `cap` bytes. The size is
    // checked on the opened file before anything is read, and at most cap + 1 bytes are
    // read. Nothing for a link, a folder, a device or FIFO, a larger file or a failure;
    // `why` says which.
    std::optional<std::string> read(const std::string& name, std::uintmax_t cap, std::string* why) const;

    // Replaces `name` with `bytes` in one step (temporary, flush, rename).
    bool write(const std::string& name, std::string_view bytes, std::string* why) const;

    // Copies the regular file `from` (a file of this user, outside the store) to `name`
    // in one step; refused when it holds more than `cap` bytes. `step` gets the bytes
    // copied so far.
    bool copyIn(const std::filesystem::path& from, const std::string& name, std::uintmax_t cap,
                const std::function<void(std::uintmax_t)>& step, std::string* why) const;

    // Copies the regular file `name` (never a link, at most `cap` bytes) to `to`, a file
    // of this user outside the store, in one step.
    bool copyOut(const std::string& name, const std::filesystem::path& to, std::uintmax_t cap,
                 const std::function<void(std::uintmax_t)>& step, std::string* why) const;

    // Removes the entry `name`: a file or a link itself, or a folder with what it holds;
    // never anything a link points to.
    bool remove(const std::string& name) const;

    // Removes what a killed writer left here: the temporaries of write() and copyIn() that
    // this account made, at least `age` old and held by no writer. Returns their names.
    std::vector<std::string> removeAbandonedTemporaries(std::chrono::seconds age) const;

    // Removes the sub-folder `name` when it and all it holds are this account's, at least
    // `age` old, held by no writer, and nothing in it is a link or a folder.
    bool removeAbandonedFolder(const std::string& name, std::chrono::seconds age) const;

    StoreFolder(StoreFolder&& other) noexcept;
    StoreFolder& operator=(StoreFolder&& other) noexcept;
    StoreFolder(const StoreFolder&) = delete;
    StoreFolder& operator=(const StoreFolder&) = delete;
    ~StoreFolder();

private:
    StoreFolder(int fd, std::filesystem::path path, bool isPrivate)
        : fd_(fd), path_(std::move(path)), private_(isPrivate) {}
    int fd_ = -1;
    std::filesystem::path path_;
    bool private_ = false;
};

} // namespace plat::cloud
