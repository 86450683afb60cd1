#include "Platform/Foundation/ReplaceJournal.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/TemporaryFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <system_error>

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCompanions[] = {"-journal", "-wal", "-shm"};

fs::path liveLockPath(const fs::path& folder) { return folder / ".replace-journal.lock"; }

fs::path withSuffix(const fs::path& p, const char* suffix) {
    fs::path out = p;
    out += suffix;
    return out;
}

void removeWithCompanions(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    for (const char* c : kCompanions) fs::remove(withSuffix(path, c), ec);
}

fs::path stagedName(const fs::path& target) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 10; ++i) suffix += letters[rng() % (sizeof letters - 1)];
    return target.parent_path() / ("." + target.filename().string() + ".tmp." + suffix);
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

// A target loses its stale companions, then the staged file takes its name.
bool putInPlace(const fs::path& staged, const fs::path& target) {
    std::error_code ec;
    for (const char* c : kCompanions) fs::remove(withSuffix(target, c), ec);
    if (::rename(staged.c_str(), target.c_str()) != 0) {
        log("cannot put " + staged.string() + " in place of " + target.string() + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

struct Pair {
    fs::path staged, target;
};

// A staged file must lie beside its target and carry its target's temporary name, so a
// damaged journal can rename nothing else.
bool plausible(const Pair& p) {
    if (!p.staged.is_absolute() || p.staged.parent_path() != p.target.parent_path()) return false;
    const auto t = parseTemporaryName(p.staged.filename().string());
    return t && t->kind == TemporaryKind::AtomicWrite && t->temporary == p.staged.filename().string() &&
           t->target == p.target.filename().string();
}

} // namespace

fs::path ReplaceJournal::journalPath(const fs::path& folder) { return folder / ".replace-journal.plist"; }

namespace {

// Finishes or undoes what the journal in `folder` lists; the caller holds the live lock.
ReplaceJournal::Recovery replay(const fs::path& folder, const std::function<void()>& beforeFinishing,
                                std::chrono::milliseconds lockWait) {
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
    const auto value = readPlistFile(journal, PlistValue::Type::Dictionary);
    bool complete = false;
    std::vector<Pair> pairs;
    if (value) {
        complete = value->find("State") && value->find("State")->asString() == "complete";
        if (const PlistValue* files = value->find("Files"); files && files->asArray())
            for (const auto& f : *files->asArray()) {
                Pair p{f.find("Staged") ? f.find("Staged")->asString() : "",
                       f.find("Target") ? f.find("Target")->asString() : ""};
                if (plausible(p)) pairs.push_back(std::move(p));
                else log("ignored a journal entry that names no staged file: " + p.staged.string());
            }
    } else {
        log("the replacement journal " + journal.string() + " is unreadable; nothing was replaced");
    }
    if (complete && beforeFinishing) beforeFinishing();
    std::set<fs::path> folders{folder};
    for (const auto& p : pairs) {
        if (complete) {
            if (fs::is_regular_file(fs::symlink_status(p.staged, ec)) && putInPlace(p.staged, p.target))
                folders.insert(p.target.parent_path());
        } else {
            removeWithCompanions(p.staged);
        }
    }
    fs::remove(journal, ec);
    for (const auto& f : folders) syncFolder(f);
    log(std::string(complete ? "finished" : "rolled back") + " an interrupted replacement in " + folder.string());
    return complete ? Recovery::Finished : Recovery::RolledBack;
}

} // namespace

std::optional<ReplaceJournal> ReplaceJournal::begin(const fs::path& folder, std::string* error) {
    auto live = FileLock::acquire(liveLockPath(folder), std::chrono::milliseconds(0), error);
    if (!live) return std::nullopt;
    if (replay(folder, {}, kLockWait) == Recovery::Busy) {
        if (error) *error = "an earlier replacement in " + folder.string() + " could not be finished";
        return std::nullopt;
    }
    return ReplaceJournal(folder, std::move(*live));
}

ReplaceJournal::ReplaceJournal(ReplaceJournal&& other) noexcept
    : folder_(std::move(other.folder_)), live_(std::move(other.live_)), entries_(std::move(other.entries_)),
      done_(other.done_) {
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
    journal["Files"] = std::move(files);
    // The complete journal must outlive a power cut. One that lists files still being
    // staged is replaced whole but not flushed: were it lost, the staged files would be
    // abandoned temporaries, which a later start removes anyway.
    if (complete) return writePlistFile(journalPath(folder_), journal, error);
    const fs::path path = journalPath(folder_);
    std::string tmpl = (folder_ / ("." + path.filename().string() + ".tmp.XXXXXX")).string();
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
    std::error_code ec;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const fs::path staged = stagedName(target);
        if (fs::exists(fs::symlink_status(staged, ec))) continue;
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
            if (err == EEXIST) continue;
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
    return std::nullopt;
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

ReplaceJournal::Recovery ReplaceJournal::recover(const fs::path& folder, const std::function<void()>& beforeFinishing,
                                                 std::chrono::milliseconds lockWait) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(journalPath(folder), ec))) return Recovery::Nothing;
    // A replacement at work holds the live lock for as long as it stages.
    auto live = FileLock::acquire(liveLockPath(folder), std::chrono::milliseconds(0));
    if (!live) return Recovery::Busy;
    return replay(folder, beforeFinishing, lockWait);
}

ReplaceJournal::Recovery recoverAtStart(const fs::path& perUserFolder, const fs::path& userFolder,
                                        const std::function<void()>& beforeFinishing) {
    const auto recovery = ReplaceJournal::recover(perUserFolder, beforeFinishing);
    // Staged files of a journal still standing are not abandoned.
    if (recovery == ReplaceJournal::Recovery::Busy) return recovery;
    const StaleTemporaryFilter abandoned{std::chrono::duration_cast<std::chrono::seconds>(kAbandonedTemporaryAge), {},
                                         std::nullopt};
    for (const fs::path& f : {perUserFolder, userFolder, userFolder / "AssistCodes", userFolder / "BootButtons",
                              userFolder / "KeyMaps"})
        removeStaleTemporaries(f, abandoned);
    return recovery;
}

} // namespace plat
