#pragma once
#include "Platform/Foundation/FileLock.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Replaces several files as one change, so that a program killed on the way leaves either
// every old file or every new one.
//
// Each new file is staged beside its target (an AtomicWrite temporary, same folder, whose
// suffix is the journal's own random mark) and listed in a journal in `folder` before it
// is created. commit() marks the journal
// complete, renames each staged file over its target (the ones staged as the commit point
// last; a replaced database loses its -journal, -wal and -shm), then removes the journal.
// recover() at the next start of either program finishes a complete journal or removes the
// staged files of an incomplete one. While a replacement is being staged its process holds
// a lock in `folder` and an flock on each staged file, so recover() and
// removeStaleTemporaries() in the other program leave it alone. The renames and recover()
// run under `lockFile` (the lock that guards config.plist).
class ReplaceJournal {
public:
    enum class Order { Normal, CommitPoint };
    enum class Recovery { Nothing, Finished, RolledBack, Busy };

    // std::nullopt when another replacement in `folder` is still at work or the journal
    // cannot be written; `error` says which. A journal left in `folder` is first finished
    // as recover() does, `userTree` being the user folder (Paths::userFolder() when not given).
    static std::optional<ReplaceJournal> begin(const std::filesystem::path& folder,
                                               std::string* error = nullptr);
    static std::optional<ReplaceJournal> begin(const std::filesystem::path& folder,
                                               const std::filesystem::path& userTree,
                                               std::string* error = nullptr);

    // Stages `bytes` for `target`. std::nullopt when the staged file
    // cannot be made (a missing folder, for one); the target is then left out.
    std::optional<std::filesystem::path> stage(const std::filesystem::path& target, std::string_view bytes,
                                               Order order = Order::Normal);
    // Leaves out a staged file again (removes it and its companions).
    void discard(const std::filesystem::path& staged);
    // The staged file for `target`, when there is one.
    std::optional<std::filesystem::path> stagedFor(const std::filesystem::path& target) const;

    // Puts every staged file in place. False (nothing replaced, the staged files removed)
    // when the lock cannot be had within `lockWait`.
    bool commit(std::chrono::milliseconds lockWait = kLockWait);
    // Removes every staged file and the journal. The destructor does this unless committed.
    void rollback();

    ReplaceJournal(ReplaceJournal&& other) noexcept;
    ReplaceJournal& operator=(ReplaceJournal&&) = delete;
    ReplaceJournal(const ReplaceJournal&) = delete;
    ReplaceJournal& operator=(const ReplaceJournal&) = delete;
    ~ReplaceJournal();

    // Finishes or undoes a replacement that a killed program left in `folder`.
    // `beforeFinishing` runs just before the renames of a complete journal. Entries are
    // obeyed only for the files the programs write (programFolders() of `folder` and
    // `userTree`, ".." resolved, each folder below those two reached without a link) and
    // only when the staged file carries the journal's mark; others are refused and
    // logged. Each file replaced is logged by name. A journal over kMaxDictionaryFileSize, unreadable or not a file
    // is set aside unread.
    static Recovery recover(const std::filesystem::path& folder, const std::filesystem::path& userTree,
                            const std::function<void()>& beforeFinishing = {},
                            std::chrono::milliseconds lockWait = kLockWait);

    static std::filesystem::path journalPath(const std::filesystem::path& folder);
    static constexpr std::chrono::milliseconds kLockWait{3000};

private:
    struct Entry {
        std::filesystem::path staged, target;
        Order order;
        int fd;
    };
    ReplaceJournal(std::filesystem::path folder, FileLock live, std::string mark)
        : folder_(std::move(folder)), live_(std::move(live)), mark_(std::move(mark)) {}
    bool writeJournal(bool complete, std::string* error = nullptr) const;
    void closeAll();

    std::filesystem::path folder_;
    std::optional<FileLock> live_;
    std::string mark_;
    std::vector<Entry> entries_;
    bool done_ = false;
};

// What both programs run at start, before they read their settings or open a database:
// recover() in the per-user folder, then removeStaleTemporaries() of abandoned temporaries
// in each of programFolders().
ReplaceJournal::Recovery recoverAtStart(const std::filesystem::path& perUserFolder,
                                        const std::filesystem::path& userFolder,
                                        const std::function<void()>& beforeFinishing = {});

} // namespace plat
