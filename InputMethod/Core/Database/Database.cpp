#include "InputMethod/Core/Database/Database.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include <sqlite3.h>
#include <sys/stat.h>

#include "InputMethod/Core/Database/StoreSql.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLDatabaseQueue.h"
#include "SharedLib/sqlkit/SQLOwnFile.h"
#include "SharedLib/sqlkit/SQLResultSet.h"

#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Double2Pinyin.h"
#include "InputMethod/Core/PhraseTemplate.h"

namespace fs = std::filesystem;
using sqlkit::SQLDatabase;
using sqlkit::SQLDatabaseQueue;

namespace taviro {

namespace {

const char* const kLockingNormal = "PRAGMA locking_mode =  NORMAL";
const char* const kWalMode = "PRAGMA journal_mode = WAL";
const char* const kCompanions[] = {"-journal", "-wal", "-shm"};

// Device and inode of a file: what changes when another file is renamed over
// the path.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

enum class PathKind { absent, regular, other };

// What is at the path; with `own` (a file of the programs' own) a link is not
// followed and counts as another kind, as does a file with other hard links.
PathKind pathKind(const std::string& path, FileIdentity* identity = nullptr, bool own = false) {
    struct stat st{};
    if ((own ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st)) != 0) return PathKind::absent;
    if (!S_ISREG(st.st_mode)) return PathKind::other;
    if (own && st.st_nlink > 1) return PathKind::other;
    if (identity) *identity = FileIdentity{st.st_dev, st.st_ino};
    return PathKind::regular;
}

// The path (or one of its journals) that is neither absent nor a regular
// file: SQLite would block for ever opening a FIFO there.
std::optional<std::string> irregularPath(const std::string& path, bool own = false) {
    if (pathKind(path, nullptr, own) == PathKind::other) return path;
    for (const char* suffix : kCompanions)
        if (pathKind(path + suffix, nullptr, own) == PathKind::other) return path + suffix;
    return std::nullopt;
}

void runScript(const std::shared_ptr<SQLDatabaseQueue>& q, const std::string& sql) {
    if (!q) return;
    q->inDatabase([&](SQLDatabase* db) {
        if (db) db->executeStatements(sql);
    });
}

// Keeps the connection's prepared statements for reuse. Only for connections
// whose queries are fixed SQL text with bound values: one that writes values
// into its SQL would grow the cache without bound.
void cacheStatements(const std::shared_ptr<SQLDatabaseQueue>& q) {
    if (!q) return;
    q->inDatabase([](SQLDatabase* db) {
        if (db) db->setShouldCacheStatements(true);
    });
}

// Files other programs use too: a statement waits only a moment for their
// lock instead of the connection's default seconds.
void waitBrieflyForLocks(const std::shared_ptr<SQLDatabaseQueue>& q) {
    if (!q) return;
    q->inDatabase([](SQLDatabase* db) {
        if (db && db->sqliteHandle())
            sqlite3_busy_timeout(db->sqliteHandle(), static_cast<int>(Database::kUserLockWait.count()));
    });
}

// The script without its locking-mode statements: files another program
// uses too keep the normal mode, taking a lock only while a statement runs.
// (Set to exclusive before the first read, a connection would also keep a
// file in WAL mode locked for good.)
std::string withoutLockingMode(const std::string& script) {
    std::string out;
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = script.find(';', start);
        end = end == std::string::npos ? script.size() : end + 1;
        std::string statement = script.substr(start, end - start);
        start = end;
        const auto first = statement.find_first_not_of(" \t\n");
        if (first != std::string::npos && statement.compare(first, 20, "PRAGMA locking_mode ") == 0) continue;
        out += statement;
    }
    return out;
}

// Puts a database file shared with the preferences application in WAL mode,
// so that its readers never wait for its writer. Needs a moment without
// another program's lock; when it cannot have one, the file keeps its mode
// until the next opening. Files already in WAL mode are left untouched.
void useWalMode(const std::string& path) {
    if (irregularPath(path, true)) return;
    {
        std::ifstream in(path, std::ios::binary);
        char header[20] = {};
        if (!in.read(header, sizeof header)) return;  // empty, short or unreadable: leave it
        if (std::memcmp(header, "SQLite format 3", 16) != 0) return;
        if (header[18] == 2 && header[19] == 2) return;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(sqlkit::SQLOwnFile::openName(path).c_str(), &db,
                        SQLITE_OPEN_READWRITE | sqlkit::SQLOwnFile::kOpenNoFollow, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, static_cast<int>(Database::kUserLockWait.count()));
        sqlite3_exec(db, kWalMode, nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
}

// The file's journal mode in lower case ("wal", "delete", ...); empty when
// it cannot be read.
std::string journalMode(const std::shared_ptr<SQLDatabaseQueue>& q) {
    std::string mode;
    q->inDatabase([&](SQLDatabase* db) {
        if (!db) return;
        auto rs = db->executeQuery("PRAGMA journal_mode", sqlkit::SQLArguments{});
        if (rs && rs->next()) mode = rs->stringForColumnIndex(0).value_or("");
        if (rs) rs->close();
    });
    std::transform(mode.begin(), mode.end(), mode.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return mode;
}

bool fileExists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

} // namespace

// How a slot compares the file at its path with the one it opened.
struct IdentityCheck {
    std::chrono::milliseconds reuse{0};
    std::function<std::chrono::steady_clock::time_point()> clock;
    std::function<void(const std::string&)> counted;
};

// One database file and its queue. The queue is replaced when the file at the
// path is no longer the one that was opened.
struct Database::Slot {
    using Setup = std::function<void(const std::shared_ptr<SQLDatabaseQueue>&)>;

    // A database of the programs' own, in the per-user folder: never opened
    // through a link, nor when it has other hard links; such a file is set
    // aside and the user told.
    struct Own {
        bool own = false;
        // Holds what the user typed: the file and its journals are 0600.
        bool typed = false;
        std::function<std::chrono::system_clock::time_point()> clock;
        std::function<void(const std::vector<sqlkit::SQLSetAside>&)> told;
    };

    std::string path;
    int flags = SQLDatabase::kOpenReadOnly;
    Setup setup;
    Own own;

    // For a file that is set aside when damaged: what puts a fresh one in its
    // place (a writable file is created by opening it).
    std::function<void()> refill;

    std::mutex m;
    std::shared_ptr<SQLDatabaseQueue> queue;
    FileIdentity identity;
    // When the file at the path was last compared with the open one.
    std::chrono::steady_clock::time_point checkedAt;
    bool checked = false;
    bool closed = false;
    bool refusalLogged = false;
    // Found damaged and could not be set aside: not read again until the
    // file at the path changes.
    bool unusable = false;

    bool writable() const { return (flags & SQLDatabase::kOpenReadWrite) != 0; }

    // Opens the file with its setup; nullptr when it must not or cannot be
    // opened. Called with m held (or before the slot is shared).
    std::shared_ptr<SQLDatabaseQueue> openLocked() {
        if (own.own) {
            // What the user typed is its owner's alone: the file is made 0600
            // before SQLite creates it, and its journals take the file's mode.
            // One an earlier version left open to others is closed to them.
            sqlkit::SQLOwnFile::Options options;
            options.makePrivate = own.typed;
            options.create = writable();
            if (own.clock) options.when = own.clock();
            const auto prepared = sqlkit::SQLOwnFile::prepare(path, options);
            if (!prepared.setAside.empty()) {
                // A read-only file gets what would stand in for a missing one.
                if (!writable() && refill) {
                    refill();
                    if (own.typed) plat::makePrivateFile(path, false);
                }
                if (own.told) own.told(prepared.setAside);
            }
            if (!prepared.refused.empty()) {
                if (!refusalLogged) plat::log("Not opening " + path + ": " + prepared.refused);
                refusalLogged = true;
                return nullptr;
            }
        }
        // A read-only file set aside and not replaced: nothing to open.
        if (own.own && !writable() && pathKind(path, nullptr, true) == PathKind::absent) return nullptr;
        if (auto bad = irregularPath(path, own.own)) {
            if (!refusalLogged) plat::log("Not opening " + path + ": " + *bad + " is not a regular file");
            refusalLogged = true;
            return nullptr;
        }
        refusalLogged = false;
        const int openFlags = own.own ? flags | sqlkit::SQLOwnFile::kOpenNoFollow : flags;
        std::shared_ptr<SQLDatabaseQueue> q(SQLDatabaseQueue::databaseQueueWithPath(path, openFlags));
        if (!q) return nullptr;
        if (setup) setup(q);
        if (pathKind(path, &identity, own.own) != PathKind::regular) identity = {};
        return q;
    }

    static std::shared_ptr<Slot> open(std::string path, int flags, Setup setup) {
        return open(std::move(path), flags, std::move(setup), Own(), {});
    }
    static std::shared_ptr<Slot> open(std::string path, int flags, Setup setup, Own own,
                                      std::function<void()> refill = {}) {
        auto slot = std::make_shared<Slot>();
        slot->path = std::move(path);
        slot->flags = flags;
        slot->setup = std::move(setup);
        slot->own = std::move(own);
        slot->refill = std::move(refill);
        slot->queue = slot->openLocked();
        return slot->queue ? slot : nullptr;
    }

    // The queue on the file now at the path: reopened when the file was
    // replaced or deleted (a writable file is created again); nullptr when the
    // slot is closed, the file is gone or is not a regular file. With `reuse`
    // set, a check younger than that is taken as it stands (the lookups of one
    // key ask for the file many times); writes always look.
    std::shared_ptr<SQLDatabaseQueue> current(const IdentityCheck& check = {}) {
        std::shared_ptr<SQLDatabaseQueue> old;
        std::lock_guard lk(m);
        if (closed) return nullptr;
        const auto now = check.clock ? check.clock() : std::chrono::steady_clock::now();
        if (check.reuse.count() > 0 && queue && !unusable && checked && now >= checkedAt && now - checkedAt < check.reuse)
            return queue;
        if (check.counted) check.counted(path);
        checked = true;
        checkedAt = now;
        FileIdentity found;
        const PathKind kind = pathKind(path, &found, own.own);
        const bool journalsOk = !(writable() || own.own) || !irregularPath(path, own.own);
        if (queue && kind == PathKind::regular && found == identity && journalsOk) return unusable ? nullptr : queue;
        if (kind == PathKind::absent && !writable()) return nullptr;
        // The old file's connection goes first: closing it ends the old
        // file's write-ahead log, which must not be read as the new file's.
        old = std::move(queue);
        if (old) old->close();
        unusable = false;
        queue = openLocked();
        return queue;
    }

    // Moves the file of `damaged` aside and starts a fresh one; the name it
    // was moved to, or nothing when the slot had moved on already.
    // `failure` gets why the file could not be moved.
    std::optional<std::string> replaceDamaged(const SQLDatabaseQueue* damaged,
                                              std::chrono::system_clock::time_point when, std::string& failure) {
        std::lock_guard lk(m);
        if (closed || !queue || queue.get() != damaged) return std::nullopt;
        queue->close();
        queue.reset();
        const std::string aside = plat::asideName(path, "corrupt", when).string();
        std::error_code ec;
        fs::rename(path, aside, ec);
        if (ec) {
            failure = ec.message();
            // Kept open, so that the file's identity stays known and a
            // replacement is noticed.
            queue = openLocked();
            unusable = true;
            return std::nullopt;
        }
        // The journals belong to the moved file and keep their pairing with it.
        for (const char* suffix : kCompanions) {
            std::error_code e;
            if (pathKind(path + suffix) == PathKind::regular) fs::rename(path + suffix, aside + suffix, e);
        }
        if (refill) refill();
        queue = openLocked();
        return aside;
    }

    void close() {
        std::shared_ptr<SQLDatabaseQueue> q;
        {
            std::lock_guard lk(m);
            closed = true;
            q = std::move(queue);
        }
        if (q) q->close();
    }
};

// Custom phrases as last read from custom.db, for the moments another
// program holds it locked.
struct Database::CustomMemory {
    static constexpr std::size_t kMaxCodes = 4096;
    std::mutex m;
    std::unordered_map<std::string, std::vector<CodeTable>> rows;
    bool lockLogged = false;
};

struct Database::Links {
    std::shared_ptr<Slot> main, dag, extended, english, assist, custom, keyLogger, user, think, textReplacement;
    std::shared_ptr<Double2Pinyin> d2f;
    // For the lookups (reuse) and for writes (none).
    IdentityCheck lookupCheck, writeCheck;

    const std::shared_ptr<Slot>& get(Queue q) const {
        switch (q) {
        case Queue::main: return main;
        case Queue::dag: return dag;
        case Queue::extended: return extended;
        case Queue::english: return english;
        case Queue::assist: return assist;
        case Queue::custom: return custom;
        case Queue::keyLogger: return keyLogger;
        case Queue::user: return user;
        case Queue::think: return think;
        case Queue::textReplacement: return textReplacement;
        }
        return main;
    }

    void closeAll() {
        // main may be the dag slot; closing twice is harmless.
        for (auto* q : {&main, &dag, &english, &assist, &custom, &user, &think, &keyLogger, &extended,
                        &textReplacement})
            if (*q) (*q)->close();
    }
};

// ---------------------------------------------------------------------------

const std::string& Database::reloadScript() {
    static const std::string script =
        "PRAGMA page_size = 4096;\n"
        "PRAGMA locking_mode =  EXCLUSIVE;\n"
        "PRAGMA temp_store = MEMORY;\n"
        "PRAGMA cache_size = 40960;\n"
        "PRAGMA mmap_size = 40960;\n"
        "PRAGMA synchronous = normal;";
    return script;
}

const std::vector<std::string>& Database::readOnlyPragmas() {
    static const std::vector<std::string> pragmas = {
        "PRAGMA page_size = 4096",     "PRAGMA synchronous = OFF",
        "PRAGMA locking_mode =  EXCLUSIVE", "PRAGMA journal_mode = OFF",
        "PRAGMA temp_store = MEMORY",  "PRAGMA cache_size = 40960",
        "PRAGMA mmap_size = 40960",    "PRAGMA query_only = 1",
    };
    return pragmas;
}

Database::Locations Database::defaultLocations() {
    return Locations{plat::Paths::perUserFolder(), plat::Paths::resourceFolder(plat::Bundle::TaviroMac2),
                     plat::Paths::libraryFolder()};
}

Database& Database::shared() {
    // Never destroyed: workers may still hold it at exit.
    static std::shared_ptr<Database>* instance = new std::shared_ptr<Database>(create(defaultLocations()));
    return **instance;
}

std::shared_ptr<Database> Database::create(Locations locations) {
    return std::shared_ptr<Database>(new Database(std::move(locations)));
}

Database::Database(Locations locations)
    : locations_(std::move(locations)), pending_(makePendingWrites()), customMemory_(std::make_unique<CustomMemory>()) {}

Database::~Database() {
    stopRetrying();
    auto lk = writeLinks();
    if (links_) links_->closeAll();
    links_.reset();
}

void Database::setHooks(Hooks hooks) {
    std::lock_guard lk(hooksMutex_);
    hooks_ = std::move(hooks);
}

Database::Hooks Database::hooks() const {
    std::lock_guard lk(hooksMutex_);
    return hooks_;
}

std::shared_ptr<const Settings> Database::currentSettings() const {
    {
        std::lock_guard lk(hooksMutex_);
        if (hooks_.settings) return hooks_.settings();
    }
    return ConfigManager::shared().settings();
}

std::string Database::expandTemplate(const std::string& text) const {
    Hooks h = hooks();
    auto now = h.clock ? h.clock() : std::chrono::system_clock::now();
    if (h.expandTemplate) return h.expandTemplate(text, now);
    return expandPhraseTemplate(text, now);
}

std::shared_lock<std::shared_mutex> Database::readLinks() const {
    { std::lock_guard gate(linksGate_); }
    return std::shared_lock(linksMutex_);
}

std::unique_lock<std::shared_mutex> Database::writeLinks() {
    std::lock_guard gate(linksGate_);
    return std::unique_lock(linksMutex_);
}

// --- paths ------------------------------------------------------------------

std::string Database::customDBLocalPath() const { return (locations_.userFolder / "custom.db").string(); }
std::string Database::mainCodeTableDBLocalPath() const {
    return (locations_.userFolder / "mainCodeTable.database").string();
}
std::string Database::assistDBLocalPath() const { return (locations_.userFolder / "assist.database").string(); }
std::string Database::userDBLocalPath() const { return (locations_.userFolder / "user.db").string(); }
std::string Database::extendedDBLocalPath() const { return (locations_.userFolder / "extended.db").string(); }
std::string Database::textReplacementDBPath() const {
    return (locations_.libraryDir / "KeyboardServices/TextReplacements.db").string();
}

// --- opening and closing -----------------------------------------------------

std::shared_future<void> Database::reloadDBLink() {
    std::uint64_t epoch;
    {
        auto lk = writeLinks();
        epoch = ++epoch_;
        if (links_) links_->closeAll();
        links_.reset();
    }
    auto done = std::make_shared<std::promise<void>>();
    std::shared_future<void> future = done->get_future().share();
    auto self = shared_from_this();
    plat::WorkerPool::shared().submit([self, epoch, done] {
        self->openLinks(reloadScript(), &epoch);
        done->set_value();
    });
    cleanCache();
    return future;
}

void Database::openDatabases(const std::string& script) {
    closeAll();
    openLinks(script, nullptr);
}

void Database::openLinks(const std::string& script, const std::uint64_t* epoch) {
    // One reopening at a time; one superseded by a later close or reload
    // opens nothing.
    std::lock_guard reloading(reloadMutex_);
    auto current = [&] {
        auto lk = readLinks();
        return !epoch || *epoch == epoch_;
    };
    if (!current()) return;

    auto links = std::make_shared<Links>();
    {
        const Hooks h = hooks();
        links->writeCheck = IdentityCheck{std::chrono::milliseconds{0}, h.steadyClock, h.identityChecked};
        links->lookupCheck = links->writeCheck;
        links->lookupCheck.reuse = kIdentityReuse;
    }
    const auto settings = currentSettings();
    const fs::path& folder = locations_.userFolder;
    links->d2f = std::make_shared<Double2Pinyin>(folder / "spScheme.plist");
    std::error_code ec;
    fs::create_directories(folder, ec);

    // Files of the per-user folder are shared with the preferences
    // application: no connection keeps one locked between its statements, and
    // a statement waits only a moment for the other program's lock. Those the
    // preferences application writes in place while this program reads them
    // (custom.db, extended.db, keys.db) are in WAL mode, where a reader never
    // waits for the writer. Bundle files are this program's alone and keep
    // the exclusive mode.
    const auto readOnly = [](bool shared, bool keepStatements) {
        return [shared, keepStatements](const std::shared_ptr<SQLDatabaseQueue>& q) {
            if (shared) waitBrieflyForLocks(q);
            applyReadOnlyPragmas(q, !shared);
            if (keepStatements) cacheStatements(q);
        };
    };
    const auto rw = SQLDatabase::kOpenReadWriteCreate;
    const auto ro = SQLDatabase::kOpenReadOnly;
    const std::string sharedScript = withoutLockingMode(script);
    const auto own = [this](bool typed) {
        const Hooks h = hooks();
        return Slot::Own{true, typed, h.wallClock,
                         [this](const std::vector<sqlkit::SQLSetAside>& setAside) { tellSetAside(setAside); }};
    };

    links->user = Slot::open((folder / "user.db").string(), rw,
                             [sharedScript, opened = hooks().userDatabaseOpened](const std::shared_ptr<SQLDatabaseQueue>& q) {
                                 waitBrieflyForLocks(q);
                                 runScript(q, kLockingNormal);
                                 runScript(q, sharedScript);
                                 if (opened && q) q->inDatabase([&](SQLDatabase* db) {
                                     if (db) opened(db);
                                 });
                             }, own(true));
    if (links->user) probeDatabase(Queue::user, links->user);

    links->keyLogger = Slot::open((folder / "keys.db").string(), rw, [sharedScript](const std::shared_ptr<SQLDatabaseQueue>& q) {
        waitBrieflyForLocks(q);
        runScript(q, kLockingNormal);
        runScript(q, sharedScript);
        runScript(q, kWalMode);
    }, own(true));
    links->think = Slot::open((folder / "think.db").string(), rw,
                              [sharedScript](const std::shared_ptr<SQLDatabaseQueue>& q) {
                                  waitBrieflyForLocks(q);
                                  runScript(q, kLockingNormal);
                                  runScript(q, sharedScript);
                              }, own(true));

    // dag.db's queries carry their values in the SQL text: no statement cache.
    links->dag = Slot::open((locations_.resourceDir / "dag.db").string(), ro, readOnly(false, false));

    const auto walReadOnly = [readOnly](const std::string& path, bool keepStatements) {
        return [path, setup = readOnly(true, keepStatements)](const std::shared_ptr<SQLDatabaseQueue>& q) {
            useWalMode(path);
            setup(q);
        };
    };
    // Present as a file or a link (a dangling one included): a link is set aside.
    const auto present = [](const std::string& path) {
        std::error_code e;
        return fs::exists(fs::symlink_status(path, e));
    };
    if (present(extendedDBLocalPath()))
        links->extended = Slot::open(extendedDBLocalPath(), ro, walReadOnly(extendedDBLocalPath(), false), own(false));
    if (present(assistDBLocalPath()))
        links->assist = Slot::open(assistDBLocalPath(), ro, readOnly(true, false), own(false));
    if (present(customDBLocalPath())) {
        // A damaged or unusable file gives way to the bundle's phrases, as a missing one does at start-up.
        links->custom = Slot::open(customDBLocalPath(), ro, walReadOnly(customDBLocalPath(), true), own(true), [this] {
            if (plat::FileManager::isRegularFile(locations_.resourceDir / "custom.db"))
                copyBundledDatabase("custom.db", customDBLocalPath());
        });
        if (links->custom) probeDatabase(Queue::custom, links->custom);
    }
    if (settings->codeTableVersion >= 0 && present(mainCodeTableDBLocalPath()))
        links->main = Slot::open(mainCodeTableDBLocalPath(), ro, readOnly(true, true), own(false));
    if (!links->main) links->main = links->dag;

    links->english = Slot::open((locations_.resourceDir / "english.db").string(), ro, readOnly(false, true));

    // Another program writes this store: read-only, and no locking or journal
    // pragma that would get in its way.
    if (fileExists(textReplacementDBPath())) links->textReplacement = Slot::open(textReplacementDBPath(), ro, {});

    {
        auto lk = writeLinks();
        if (epoch && *epoch != epoch_) {
            links->closeAll();
            return;
        }
        if (links_) links_->closeAll();
        links_ = std::move(links);
    }
    // Answers found while the files were closed are not kept.
    clearCacheNow();
    // Words learnt while the store was closed are written now.
    if (pendingUserWrites() > 0) startRetrying(true);
}

void Database::applyReadOnlyPragmas(const std::shared_ptr<SQLDatabaseQueue>& queue, bool exclusiveLocking) {
    if (!queue) return;
    for (const auto& pragma : readOnlyPragmas()) {
        if (!exclusiveLocking && pragma.rfind("PRAGMA locking_mode", 0) == 0) continue;
        // A read-only connection cannot take a file out of WAL mode (SQLite
        // fails with an I/O error): such a file keeps its mode.
        if (pragma.rfind("PRAGMA journal_mode", 0) == 0 && journalMode(queue) == "wal") continue;
        runScript(queue, pragma);
    }
}

void Database::closeAll() {
    auto lk = writeLinks();
    ++epoch_;
    if (links_) links_->closeAll();
    links_.reset();
}

bool Database::isOpen() const {
    auto lk = readLinks();
    return links_ != nullptr;
}

std::shared_ptr<Double2Pinyin> Database::d2f() const {
    auto lk = readLinks();
    return links_ ? links_->d2f : nullptr;
}

bool Database::inAssistDatabase(const std::function<void(SQLDatabase*)>& block) {
    return inQueue(Queue::assist, block);
}

bool Database::inQueue(Queue which, const std::function<void(SQLDatabase*)>& fn, bool writes) {
    return withQueue(which, [&](SQLDatabaseQueue& q) { q.inDatabase(fn); }, writes);
}

bool Database::withQueue(Queue which, const std::function<void(SQLDatabaseQueue&)>& fn, bool writes) {
    auto lk = readLinks();
    if (!links_) return false;
    const auto& slot = links_->get(which);
    if (!slot) return false;
    auto q = slot->current(writes ? links_->writeCheck : links_->lookupCheck);
    if (!q) return false;
    fn(*q);
    return true;
}

void Database::replaceDamagedFile(Queue which, const SQLDatabaseQueue* damaged) {
    std::shared_ptr<Slot> slot;
    {
        auto lk = readLinks();
        if (links_) slot = links_->get(which);
    }
    if (slot) replaceDamagedSlot(which, *slot, damaged);
}

void Database::replaceDamagedSlot(Queue which, Slot& slot, const SQLDatabaseQueue* damaged) {
    const Hooks h = hooks();
    const auto when = h.wallClock ? h.wallClock() : std::chrono::system_clock::now();
    std::string failure;
    auto aside = slot.replaceDamaged(damaged, when, failure);
    const bool custom = which == Queue::custom;
    if (!aside && !failure.empty()) {
        plat::log(std::string(custom ? "The custom phrases file " : "The user dictionary ") + slot.path +
                  " is damaged and could not be moved aside (" + failure + "): not read until the file is replaced");
        tellUser(custom ? "自定义短语已损坏" : "用户词库已损坏",
                 std::string(custom ? "自定义短语文件" : "用户词库") + "已损坏，且无法移开（" + failure +
                     "），在替换它之前不再使用。");
        return;
    }
    if (!aside) return;
    clearCacheNow();
    const std::string name = fs::path(*aside).filename().string();
    if (custom) {
        forgetCustomPhrases();
        const bool fresh = fileExists(slot.path);
        plat::log("The custom phrases file " + slot.path + " is damaged: it was moved to " + *aside +
                  (fresh ? " and the bundle's phrases were put in its place" : "; no custom phrases until it is replaced"));
        tellUser("自定义短语已损坏", "自定义短语文件已损坏，原文件已保留为 " + name +
                                         (fresh ? "，并换用了初始的自定义短语。" : "。"));
        return;
    }
    plat::log("The user dictionary " + slot.path + " is damaged: it was moved to " + *aside +
              " and a new, empty one was started");
    tellUser("用户词库已损坏", "用户词库已损坏，原文件已保留为 " + name + "，并新建了空的用户词库。");
}

void Database::probeDatabase(Queue which, const std::shared_ptr<Slot>& slot) {
    // A file that is not a database, or whose first pages are damaged, says
    // so on its first read.
    auto q = slot->current(IdentityCheck{std::chrono::milliseconds{0}, hooks().steadyClock, {}});
    if (!q) return;
    bool damaged = false;
    q->inDatabase([&](SQLDatabase* db) {
        if (!db) return;
        sqlite3_busy_timeout(db->sqliteHandle(), static_cast<int>(kUserLockWait.count()));
        const bool logs = db->logsErrors();
        db->setLogsErrors(false);  // damage is told below, once
        sqlkit::SQLError error;
        auto rs = db->executeQuery("SELECT count(*) FROM sqlite_master", sqlkit::SQLArguments{}, &error);
        int code = rs ? 0 : db->lastErrorCode();
        if (rs) {
            if (!rs->next(&error)) code = error.code();
            rs->close();
        }
        db->setLogsErrors(logs);
        damaged = storesql::isDamagedCode(code);
    });
    if (damaged) replaceDamagedSlot(which, *slot, q.get());
}

void Database::tellSetAside(const std::vector<sqlkit::SQLSetAside>& setAside) {
    tellUser("词库文件已移开", sqlkit::SQLOwnFile::noticeText(setAside));
}

void Database::setUserNotice(std::shared_ptr<UserNotice> notice) {
    std::lock_guard lk(noticeMutex_);
    notice_ = std::move(notice);
}

void Database::tellUser(const std::string& title, const std::string& text) {
    std::shared_ptr<UserNotice> notice;
    {
        std::lock_guard lk(noticeMutex_);
        notice = notice_;
    }
    if (notice) notice->post(title, text);
}

void Database::copyBundledDatabase(const std::string& resourceName, const std::string& destination) {
    std::error_code ec;
    fs::create_directories(locations_.userFolder, ec);
    // The resource name comes from callers, not data; still refuse anything
    // that would leave the resource folder.
    if (!plat::Paths::isSafeRelativeName(resourceName)) return;
    auto bytes = plat::readWholeFile(locations_.resourceDir / resourceName);
    if (!bytes) return;
    const fs::path dest(destination);
    if (!plat::writeFileAtomically(dest, *bytes)) return;
    // The replaced database's journals belong to the old file.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) fs::remove(dest.string() + suffix, ec);
}

// --- cache -------------------------------------------------------------------

void Database::cleanCache() { clearCacheNow(); }

void Database::clearCacheNow() {
    std::unordered_map<std::string, std::vector<CodeTable>> old;
    {
        std::lock_guard lk(cacheMutex_);
        ++cacheGeneration_;
        old.swap(cache_);
    }
}

std::size_t Database::cacheSize() const {
    std::lock_guard lk(cacheMutex_);
    return cache_.size();
}

void Database::storeCachedPhrases(const std::string& key, const std::vector<CodeTable>& list,
                                  std::uint64_t generation) {
    std::lock_guard lk(cacheMutex_);
    // A lookup that began before an emptying does not refill the cache.
    if (generation != cacheGeneration_) return;
    cache_[key] = list;
}

// --- code tables ---------------------------------------------------------------

namespace {

// Reads the custom-phrase rows of `code` as stored; the SQLite code of the
// failure that stopped it, 0 when all were read.
int readCustomRows(SQLDatabase* db, const std::string& code, std::vector<CodeTable>& rows) {
    if (!db) return 0;
    sqlkit::SQLError error;
    auto rs = db->executeQuery("SELECT \"Code\",\"Table\",\"Weight\" FROM CodeTable WHERE Code=? ",
                               sqlkit::SQLArguments{code}, &error);
    if (!rs) return error.code() ? error.code() : db->lastErrorCode();
    while (rs->next(&error)) {
        auto table = rs->stringForColumnIndex(1);
        if (!table) continue;
        CodeTable r;
        r.code = rs->stringForColumnIndex(0).value_or("");
        r.table = *table;
        r.weight = rs->doubleForColumnIndex(2);
        r.from = CodeTableFromType::custom;
        rows.push_back(std::move(r));
    }
    rs->close();
    return error.code();
}

} // namespace

std::vector<CodeTable> Database::customPhrases(const std::string& code) {
    std::vector<CodeTable> rows;
    for (int attempt = 0;; ++attempt) {
        rows.clear();
        int failure = 0;
        const SQLDatabaseQueue* used = nullptr;
        const bool ran = withQueue(Queue::custom, [&](SQLDatabaseQueue& q) {
            used = &q;
            q.inDatabase([&](SQLDatabase* db) {
                if (!db) return;
                // A lock of the preferences application is waited for a
                // moment at most; damage and locks are told once, below.
                if (db->sqliteHandle())
                    sqlite3_busy_timeout(db->sqliteHandle(), static_cast<int>(kUserLockWait.count()));
                const bool logs = db->logsErrors();
                db->setLogsErrors(false);
                failure = readCustomRows(db, code, rows);
                if (failure && !storesql::isDamagedCode(failure) && !storesql::isLockedCode(failure) && logs)
                    plat::log("custom.db: " + db->lastErrorMessage());
                db->setLogsErrors(logs);
            });
        });
        if (!ran) return {};
        if (storesql::isDamagedCode(failure) && attempt == 0) {
            replaceDamagedFile(Queue::custom, used);
            continue;
        }
        if (storesql::isDamagedCode(failure)) return {};
        std::lock_guard lk(customMemory_->m);
        if (storesql::isLockedCode(failure)) {
            if (!customMemory_->lockLogged)
                plat::log("custom.db is locked by another program: the custom phrases read before are used");
            customMemory_->lockLogged = true;
            const auto it = customMemory_->rows.find(code);
            rows = it != customMemory_->rows.end() ? it->second : std::vector<CodeTable>{};
        } else if (failure == 0) {
            customMemory_->lockLogged = false;
            if (customMemory_->rows.size() >= CustomMemory::kMaxCodes) customMemory_->rows.clear();
            customMemory_->rows[code] = rows;
        }
        break;
    }
    for (auto& r : rows)
        if (r.table.find('#') != std::string::npos) r.table = expandTemplate(r.table);
    return rows;
}

void Database::forgetCustomPhrases() {
    std::lock_guard lk(customMemory_->m);
    customMemory_->rows.clear();
}

void Database::customPhraseRows(SQLDatabase* db, const std::string& code, std::vector<CodeTable>& records) {
    std::vector<CodeTable> rows;
    readCustomRows(db, code, rows);
    for (auto& r : rows) {
        if (r.table.find('#') != std::string::npos) r.table = expandTemplate(r.table);
        records.push_back(std::move(r));
    }
}

std::vector<CodeTable> Database::codeTablePrefixQuery(const std::string& code, bool like) {
    std::vector<CodeTable> records;
    std::string sql;
    sqlkit::SQLArguments args;
    if (code.find('`') != std::string::npos) {
        std::string key = code;
        std::replace(key.begin(), key.end(), '`', '_');
        sql = "SELECT \"Code\",\"Table\" FROM CodeTable WHERE Code like ? ORDER BY Weight";
        args = {key};
    } else if (!like) {
        sql = "SELECT \"Code\",\"Table\" FROM CodeTable WHERE Code=? ORDER BY Weight";
        args = {code};
    } else {
        sql = "SELECT \"Code\",\"Table\" FROM CodeTable WHERE Code > ? and Code < ? ORDER BY Weight";
        args = {code, code + "zzzzzzzzzz"};
    }
    inQueue(Queue::main, [&](SQLDatabase* db) {
        if (!db) return;
        auto rs = db->executeQuery(sql, args);
        if (!rs) return;
        while (rs->next()) {
            auto table = rs->stringForColumnIndex(1);
            if (!table) continue;
            records.emplace_back(rs->stringForColumnIndex(0).value_or(""), *table, 0,
                                 CodeTableFromType::mainCodeTable);
        }
        rs->close();
    });
    return records;
}

std::vector<CodeTable> Database::englishWords(const std::string& text, bool prefix, int limit) {
    std::vector<CodeTable> records;
    if (!currentSettings()->mixEnglishInput) return records;
    if (text.find('`') != std::string::npos) return records;
    std::string key = text;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    inQueue(Queue::english, [&](SQLDatabase* db) {
        if (!db) return;
        std::unique_ptr<sqlkit::SQLResultSet> rs;
        if (prefix)
            rs = db->executeQuery("SELECT \"Table\",\"Code\" FROM CodeTable WHERE Code >= ? and Code < ? ORDER BY Weight", sqlkit::SQLArguments{key, key + std::string(20, 'z')});
        else
            rs = db->executeQuery("SELECT \"Table\",\"Code\" FROM CodeTable WHERE Code=? ORDER BY Weight", sqlkit::SQLArguments{key});
        if (!rs) return;
        while (static_cast<int>(records.size()) < limit && rs->next()) {
            records.emplace_back(rs->stringForColumnIndex(1).value_or(""),
                                 rs->stringForColumnIndex(0).value_or(""), 0, CodeTableFromType::english);
        }
        rs->close();
    });
    return records;
}

std::string Database::assistWords(const std::string& code) {
    std::string out;
    inQueue(Queue::assist, [&](SQLDatabase* db) {
        concatFirstColumn(db, code, out, "SELECT \"Table\" FROM CodeTable WHERE Code=?");
    });
    return out;
}

void Database::codesForWord(SQLDatabase* db, const std::string& word, std::string& codes) {
    concatFirstColumn(db, word, codes, "SELECT \"Code\" FROM TableCode WHERE \"Table\"=?");
}

void Database::concatFirstColumn(SQLDatabase* db, const std::string& value, std::string& out,
                                 const std::string& sql) {
    if (!db) return;
    db->setShouldCacheStatements(true);
    auto rs = db->executeQuery(sql, sqlkit::SQLArguments{value});
    if (!rs) return;
    std::string joined;
    while (rs->next()) joined += rs->stringForColumnIndex(0).value_or("");
    out = std::move(joined);
    rs->close();
}

} // namespace taviro
