#pragma once
// The settings lock made unavailable the ways another program or the user can:
// held by another process, or its path taken by a folder, a symbolic link, or
// a file this account cannot open. release() frees it again.
#include "support/ChildProcess.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace taviro::test {

enum class LockBlock { otherProcess, folder, link, unreadable };

inline const char* lockBlockName(LockBlock how) {
    switch (how) {
    case LockBlock::otherProcess: return "held by another process";
    case LockBlock::folder: return "a folder";
    case LockBlock::link: return "a link";
    case LockBlock::unreadable: return "unreadable";
    }
    return "?";
}

class BlockedLock {
public:
    // `holder` is the lock_holder program.
    BlockedLock(std::filesystem::path lockFile, LockBlock how, const std::string& holder)
        : lockFile_(std::move(lockFile)), how_(how) {
        namespace fs = std::filesystem;
        std::error_code ec;
        // A lock file left by earlier saves is what the folder or the link replaces.
        if (how == LockBlock::folder || how == LockBlock::link) fs::remove(lockFile_, ec);
        switch (how) {
        case LockBlock::otherProcess:
            child_ = std::make_unique<ChildProcess>(holder, std::vector<std::string>{lockFile_.string()});
            ready_ = child_->started() && child_->nextLine() == "locked";
            break;
        case LockBlock::folder: ready_ = fs::create_directory(lockFile_, ec); break;
        case LockBlock::link:
            linkTarget_ = lockFile_.parent_path() / "someone-elses-file";
            std::ofstream(linkTarget_) << "theirs";
            fs::create_symlink(linkTarget_, lockFile_, ec);
            ready_ = !ec;
            break;
        case LockBlock::unreadable:
            // Root opens any file: this one cannot be made there.
            if (::geteuid() == 0) break;
            std::ofstream(lockFile_).flush();
            fs::permissions(lockFile_, fs::perms::none, ec);
            ready_ = !ec;
            break;
        }
    }
    ~BlockedLock() { release(); }
    BlockedLock(const BlockedLock&) = delete;
    BlockedLock& operator=(const BlockedLock&) = delete;

    // False when this way of blocking cannot be set up here (an unreadable file for root).
    bool ready() const { return ready_; }
    const std::filesystem::path& linkTarget() const { return linkTarget_; }

    void release() {
        namespace fs = std::filesystem;
        if (!ready_) return;
        ready_ = false;
        std::error_code ec;
        switch (how_) {
        case LockBlock::otherProcess:
            child_->send("release");
            child_->nextLine();
            child_->wait();
            break;
        case LockBlock::folder:
        case LockBlock::link: fs::remove(lockFile_, ec); break;
        case LockBlock::unreadable: fs::permissions(lockFile_, fs::perms::owner_read | fs::perms::owner_write, ec); break;
        }
    }

private:
    std::filesystem::path lockFile_;
    LockBlock how_;
    bool ready_ = false;
    std::unique_ptr<ChildProcess> child_;
    std::filesystem::path linkTarget_;
};

} // namespace taviro::test
