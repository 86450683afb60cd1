#include "Platform/Foundation/ReplaceJournal.h"

#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/TemporaryFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCompanions[] = {"-journal", "-wal", "-shm"};

fs::path liveLockPath(const fs::path& folder) { return folder / ".replace-journal.lock"; }

// Removes `name` in `dir` (a folder descriptor, or AT_FDCWD with a whole path) and its
// companions.
void removeWithCompanions(int dir, const std::string& name) {
    ::unlinkat(dir, name.c_str(), 0);
    for (const char* c : kCompanions) ::unlinkat(dir, (name + c).c_str(), 0);
}

void removeWithCompanions(const fs::path& path) { removeWithCompanions(AT_FDCWD, path.string()); }

// A journal's mark (a temporary's suffix, from temporarySuffix()) ends the name of every
// file it stages, so that its entries are obeyed only for the files it staged itself.
fs::path stagedName(const fs::path& target, const std::string& mark) {
    return target.parent_path() / temporaryFileName(target.filename().string(), TemporaryKind::AtomicWrite, mark);
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A target loses its stale companions, then the staged file takes its name. `dir` as for
// removeWithCompanions.
bool putInPlace(int dir, const std::string& staged, const std::string& target) {
    for (const char* c : kCompanions) ::unlinkat(dir, (target + c).c_str(), 0);
    if (::renameat(dir, staged.c_str(), dir, target.c_str()) != 0) {
        log("cannot put " + staged + " in place of " + target + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

bool putInPlace(const fs::path& staged, const fs::path& target) {
    return putInPlace(AT_FDCWD, staged.string(), target.string());
}

// One entry of a journal found at start, checked: its folder is open (a descriptor
// reached without a link) and the names are plain names in it.
struct JournalEntry {
    fs::path folder;
    std::string staged, target;
    int dir = -1;
};

// `folder` with ".." resolved and no trailing separator.
fs::path normalFolder(const fs::path& folder) {
    if (folder.empty()) return folder;
    std::error_code ec;
    fs::path p = fs::absolute(folder, ec).lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

// Opens `folder` when it is one of the folders the programs write (programFolders()) and
// `target` one of the files written there: the per-user folder itself, or the user folder
// or one of its subfolders reached without a link. -1 otherwise, with `why` set.
int openWrittenFolder(const fs::path& folder, const std::string& target, const fs::path& perUser,
                      const fs::path& userTree, std::string& why) {
    for (const auto& written : programFolders(perUser, userTree)) {
        if (written.path != perUser && userTree.empty()) continue;
        if (normalFolder(written.path) != folder) continue;
        if (!written.files.includes(target) || target == ReplaceJournal::journalPath(perUser).filename()) {
            why = "it names a file that no restore writes";
            return -1;
        }
        fs::path root = perUser, rest;
        if (folder != perUser) {
            root = userTree;
            rest = folder.lexically_relative(userTree);
            if (rest == ".") rest.clear();
        }
        const int fd = openFolderBeneath(root, rest);
        if (fd < 0) why = std::string("its folder cannot be reached without a link: ") + std::strerror(errno);
        return fd;
    }
    why = "it names a folder that no restore writes";
    return -1;
}

// The entry when it may be acted on: both paths absolute, in one folder that a restore
// writes (after ".." is resolved), the target a file written there and the staged file
// named as the journal (its `mark`) stages the target.
std::optional<JournalEntry> checkedEntry(const fs::path& staged, const fs::path& target, const std::string& mark,
                                         const fs::path& perUser, const fs::path& userTree, std::string& why) {
    if (!staged.is_absolute() || !target.is_absolute()) {
        why = "its paths are not absolute";
        return std::nullopt;
    }
    const fs::path s = staged.lexically_normal(), t = target.lexically_normal();
    if (!s.has_filename() || !t.has_filename() || s.parent_path() != t.parent_path()) {
        why = "its files are not in one folder";
        return std::nullopt;
    }
    const auto name = parseTemporaryName(s.filename().string());
    if (!name || name->kind != TemporaryKind::AtomicWrite || name->temporary != s.filename().string() ||
        name->target != t.filename().string()) {
        why = "it names no staged file of its target";
        return std::nullopt;
    }
    if (!isTemporarySuffix(mark) || s.filename() != stagedName(t, mark).filename()) {
        why = "it names a file that this journal did not stage";
        return std::nullopt;
    }
    JournalEntry e{s.parent_path(), s.filename().string(), t.filename().string()};
    e.dir = openWrittenFolder(e.folder, e.target, normalFolder(perUser), normalFolder(userTree), why);
    if (e.dir < 0) return std::nullopt;
    return e;
}

} // namespace

fs::path ReplaceJournal::journalPath(const fs::path& folder) { return folder / ".replace-journal.plist"; }

namespace {

// Moves a journal that cannot be read out of the way, so that it is met (and logged) once.
void setAside(const fs::path& journal, const std::string& why) {
    const fs::path aside = asideName(journal, "damaged", std::chrono::system_clock::now());
    if (::rename(journal.c_str(), aside.c_str()) == 0)
        log("the replacement journal " + journal.string() + " was set aside as " + aside.filename().string() +
            " (" + why + "); nothing was replaced");
    else
        log("the replacement journal " + journal.string() + " cannot be read (" + why +
            ") nor set aside: " + std::strerror(errno));
}

// Finishes or undoes what the journal in `folder` lists, with files only in `folder` and
// in `userTree` or beneath it; the caller holds the live lock.
ReplaceJournal::Recovery replay(const fs::path& folder, const fs::path& userTree,
                                const std::function<void()>& beforeFinishing, std::chrono::milliseconds lockWait) {
    using Recovery = ReplaceJournal::Recovery;
    const fs::path journal = ReplaceJournal::journalPath(folder);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(journal, ec))) return Recovery::Nothing;
    std::string why;
    auto lock = FileLock::acquire(configLockPath(folder), lockWait, &why);
    if (!lock) {
        log("cannot finish the interrupted replacement in " + folder.string() + " now: " + why);
        return Recovery::Busy;
    }
    // Sized on the open file before it is read.
    const DictionaryFileRead read = readDictionaryFile(journal, kMaxDictionaryFileSize);
    if (read.state == DictionaryFileRead::State::missing) return Recovery::Nothing;
    if (!read.ok()) {
        setAside(journal, read.reason);
        return Recovery::RolledBack;
    }
    const auto state = read.dictionary.find("State");
    const bool complete = state != read.dictionary.end() && state->second.asString() == "complete";
    const auto markEntry = read.dictionary.find("Mark");
    const std::string mark = markEntry != read.dictionary.end() ? markEntry->second.asString() : std::string();
    std::vector<JournalEntry> entries;
    if (const auto files = read.dictionary.find("Files"); files != read.dictionary.end() && files->second.asArray())
        for (const auto& f : *files->second.asArray()) {
            const fs::path staged = f.find("Staged") ? f.find("Staged")->asString() : "";
            const fs::path target = f.find("Target") ? f.find("Target")->asString() : "";
            if (auto e = checkedEntry(staged, target, mark, folder, userTree, why)) entries.push_back(std::move(*e));
            else log("refused a replacement journal entry (" + why + "): " + staged.string() + " -> " + target.string());
        }
    if (complete && beforeFinishing) beforeFinishing();
    for (const auto& e : entries) {
        struct stat st {};
        if (!complete) {
            removeWithCompanions(e.dir, e.staged);
        } else if (::fstatat(e.dir, e.staged.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                   putInPlace(e.dir, e.staged, e.target)) {
            ::fsync(e.dir);
            log("replaced " + (e.folder / e.target).string() + " with its restored copy");
        }
        ::close(e.dir);
    }
    fs::remove(journal, ec);
    syncFolder(folder);
    log(std::string(complete ? "finished" : "rolled back") + " an interrupted replacement in " + folder.string());
    return complete ? Recovery::Finished : Recovery::RolledBack;
}

} // namespace

std::optional<ReplaceJournal> ReplaceJournal::begin(const fs::path& folder, std::string* error) {
    return begin(folder, Paths::userFolder(), error);
}

std::optional<ReplaceJournal> ReplaceJournal::begin(const fs::path& folder, const fs::path& userTree,
                                                    std::string* error) {
    auto live = FileLock::acquire(liveLockPath(folder), std::chrono::milliseconds(0), error);
    if (!live) return std::nullopt;
    if (replay(folder, userTree, {}, kLockWait) == Recovery::Busy) {
        if (error) *error = "an earlier replacement in " + folder.string() + " could not be finished";
        return std::nullopt;
    }
    return ReplaceJournal(folder, std::move(*live), temporarySuffix());
}

ReplaceJournal::ReplaceJournal(ReplaceJournal&& other) noexcept
    : folder_(std::move(other.folder_)), live_(std::move(other.live_)), mark_(std::move(other.mark_)),
      entries_(std::move(other.entries_)), done_(other.done_) {
    other.entries_.clear();
    other.done_ = true;
}

ReplaceJournal::~ReplaceJournal() {
    if (!done_) rollback();
}

bool ReplaceJournal::writeJournal(bool complete, std::string* error) const {
    PlistValue files = PlistValue::array();
    for (const auto& e : entries_) {
        PlistValue pair = PlistValue::dictionary();
        pair["Staged"] = e.staged.string();
        pair["Target"] = e.target.string();
        files.append(std::move(pair));
    }
    PlistValue journal = PlistValue::dictionary();
    journal["State"] = std::string(complete ? "complete" : "staging");
    journal["Mark"] = mark_;
    journal["Files"] = std::move(files);
    // The complete journal must outlive a power cut. One that lists files still being
    // staged is replaced whole but not flushed: were it lost, the staged files would be
    // abandoned temporaries, which a later start removes anyway.
    if (complete) return writePlistFile(journalPath(folder_), journal, error);
    const fs::path path = journalPath(folder_);
    std::string tmpl =
        (folder_ / temporaryFileName(path.filename().string(), TemporaryKind::AtomicWrite, "XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        if (error) *error = "cannot create a temporary file in " + folder_.string() + ": " + std::strerror(errno);
        return false;
    }
    ::flock(fd, LOCK_EX);
    const bool ok = writeAll(fd, plistToXml(journal));
    ::close(fd);
    if (!ok || ::rename(tmpl.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot write " + path.string() + ": " + std::strerror(errno);
        ::unlink(tmpl.c_str());
        return false;
    }
    return true;
}

std::optional<fs::path> ReplaceJournal::stage(const fs::path& target, std::string_view bytes, Order order) {
    if (done_ || !target.is_absolute() || !target.has_filename()) return std::nullopt;
    if (auto old = stagedFor(target)) discard(*old);
    const fs::path staged = stagedName(target, mark_);
    // Listed before it exists: a kill from here on leaves nothing unlisted.
    entries_.push_back({staged, target, order, -1});
    std::string why;
    if (!writeJournal(false, &why)) {
        entries_.pop_back();
        log("cannot write the replacement journal: " + why);
        return std::nullopt;
    }
    const int fd = ::open(staged.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        const int err = errno;
        entries_.pop_back();
        writeJournal(false);
        log("cannot stage " + target.string() + ": " + std::strerror(err));
        return std::nullopt;
    }
    ::flock(fd, LOCK_EX);
    entries_.back().fd = fd;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
    // Flushed by commit(), before the journal says complete.
    if (!writeAll(fd, bytes)) {
        log("cannot write the staged " + staged.string() + ": " + std::strerror(errno));
        discard(staged);
        return std::nullopt;
    }
    return staged;
}

std::optional<fs::path> ReplaceJournal::stagedFor(const fs::path& target) const {
    for (const auto& e : entries_)
        if (e.target == target) return e.staged;
    return std::nullopt;
}

void ReplaceJournal::discard(const fs::path& staged) {
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.staged == staged; });
    if (it == entries_.end()) return;
    removeWithCompanions(it->staged);
    if (it->fd >= 0) ::close(it->fd);
    entries_.erase(it);
    writeJournal(false);
}

bool ReplaceJournal::commit(std::chrono::milliseconds lockWait) {
    if (done_) return false;
    std::string why;
    auto lock = FileLock::acquire(configLockPath(folder_), lockWait, &why);
    if (!lock) {
        log("cannot put the staged files in place: " + why);
        rollback();
        return false;
    }
    std::stable_partition(entries_.begin(), entries_.end(), [](const Entry& e) { return e.order == Order::Normal; });
    for (const auto& e : entries_)
        if (e.fd >= 0) ::fsync(e.fd);
    if (!writeJournal(true, &why)) {
        log("cannot write the replacement journal: " + why);
        rollback();
        return false;
    }
    syncFolder(folder_);
    std::set<fs::path> folders{folder_};
    for (const auto& e : entries_)
        if (putInPlace(e.staged, e.target)) folders.insert(e.target.parent_path());
    std::error_code ec;
    fs::remove(journalPath(folder_), ec);
    for (const auto& f : folders) syncFolder(f);
    closeAll();
    return true;
}

void ReplaceJournal::rollback() {
    if (done_) return;
    for (const auto& e : entries_) removeWithCompanions(e.staged);
    std::error_code ec;
    fs::remove(journalPath(folder_), ec);
    closeAll();
}

void ReplaceJournal::closeAll() {
    for (auto& e : entries_)
        if (e.fd >= 0) ::close(e.fd);
    entries_.clear();
    done_ = true;
    live_.reset();
}

ReplaceJournal::Recovery ReplaceJournal::recover(const fs::path& folder, const fs::path& userTree,
                                                 const std::function<void()>& beforeFinishing,
                                                 std::chrono::milliseconds lockWait) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(journalPath(folder), ec))) return Recovery::Nothing;
    // A replacement at work holds the live lock for as long as it stages.
    auto live = FileLock::acquire(liveLockPath(folder), std::chrono::milliseconds(0));
    if (!live) return Recovery::Busy;
    return replay(folder, userTree, beforeFinishing, lockWait);
}

ReplaceJournal::Recovery recoverAtStart(const fs::path& perUserFolder, const fs::path& userFolder,
                                        const std::function<void()>& beforeFinishing) {
    const auto recovery = ReplaceJournal::recover(perUserFolder, userFolder, beforeFinishing);
    // Staged files of a journal still standing are not abandoned.
    if (recovery == ReplaceJournal::Recovery::Busy) return recovery;
    for (auto& [folder, files] : programFolders(perUserFolder, userFolder))
        removeStaleTemporaries(folder, {std::chrono::duration_cast<std::chrono::seconds>(kAbandonedTemporaryAge),
                                        std::move(files), std::nullopt});
    return recovery;
}

} // namespace plat
