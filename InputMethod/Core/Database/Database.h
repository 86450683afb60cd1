#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"
#include "InputMethod/Core/Database/UserNotice.h"
#include "InputMethod/Core/Settings.h"

namespace sqlkit {
class SQLDatabase;
class SQLDatabaseQueue;
struct SQLSetAside;
} // namespace sqlkit

namespace taviro {

class Double2Pinyin;

// Syllable alternatives: one list per typed position, the typed reading first.
using SyllableAlternatives = std::vector<std::vector<std::string>>;

// The input method's dictionary store: the one owner of every SQLite file it
// reads or writes, one database queue per file.
//
// The files are published together as one immutable set. Every lookup takes
// the current set under a shared lock for as long as it uses a queue, so
// closing (which takes the lock exclusively) never races with a lookup, and a
// closed store neither answers nor reopens a file until the next reload.
// Within the set, a file that was replaced on disk (another program renamed a
// new file over it) is reopened before its next use, and anything that is
// not a regular file at a database path (or its journals) is never opened.
//
// user.db may be shared with another process: it is used in the normal
// locking mode, every statement on it waits only briefly for a lock, and a
// write that cannot get the lock waits in a bounded queue and is retried.
class Database : public std::enable_shared_from_this<Database> {
public:
    // Where the store finds its files.
    struct Locations {
        std::filesystem::path userFolder;   // per-user folder ("TaviroMac")
        std::filesystem::path resourceDir;  // the program's bundle resources
        std::filesystem::path libraryDir;   // the user's Library folder
    };

    // The sub-lookups of the timed phrase, prediction and abbreviated lookups.
    enum class SubLookup { userRows, dagWords, extendedWords };

    // Seams for tests. Unset members keep the normal behaviour.
    struct Hooks {
        std::function<std::shared_ptr<const Settings>()> settings;  // instead of ConfigManager
        std::function<std::chrono::system_clock::time_point()> clock;  // for phrase templates
        std::function<std::string(const std::string&, std::chrono::system_clock::time_point)>
            expandTemplate;                                          // instead of the engine's
        std::function<void(SubLookup)> beforeSubLookup;              // runs first in each sub-lookup
        std::chrono::milliseconds phraseWait{500};
        std::chrono::milliseconds predictionWait{1000};
        // For the moved-aside name of a damaged file.
        std::function<std::chrono::system_clock::time_point()> wallClock;
        // Runs on each new connection to user.db, after its pragmas.
        std::function<void(sqlkit::SQLDatabase*)> userDatabaseOpened;
        // The clock of the file identity checks, and what each check is told
        // to (the database path), taken when the files are opened.
        std::function<std::chrono::steady_clock::time_point()> steadyClock;
        std::function<void(const std::string&)> identityChecked;
    };

    // How long one statement on user.db waits for another connection's lock.
    static constexpr std::chrono::milliseconds kUserLockWait{20};
    // After a statement found user.db locked, lookups for this long try once
    // without waiting.
    static constexpr std::chrono::milliseconds kUserLockedMemory{500};
    // Learnt words kept while user.db is locked or the disk is full; more are
    // reported and lost.
    static constexpr std::size_t kMaxPendingUserWrites = 512;
    // Lookups take a file's identity as checked this long ago: the lookups of
    // one key check each file once, and a file replaced on disk is read from
    // the next key on. Writes always check.
    static constexpr std::chrono::milliseconds kIdentityReuse{20};

    static constexpr const char* kNoMainCodeTable = "不使用主码表";

    // The reload script run on user.db, keys.db and think.db.
    static const std::string& reloadScript();
    static const std::vector<std::string>& readOnlyPragmas();

    // The store of the process, created on first use; it opens nothing.
    static Database& shared();
    // A separate store (tests, tools).
    static std::shared_ptr<Database> create(Locations locations);
    // The per-user folder, bundle resources and Library folder of this user.
    static Locations defaultLocations();

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const Locations& locations() const { return locations_; }
    void setHooks(Hooks hooks);
    // Where messages for the user go besides the log; null: the log only.
    void setUserNotice(std::shared_ptr<UserNotice> notice);

    // --- files, connections, cache -------------------------------------
    // Closes every queue now, reopens every file on a worker and empties the
    // cache. The future is ready when the reopening has run (or was
    // superseded by a later reload or close); callers may ignore it.
    std::shared_future<void> reloadDBLink();
    // Opens every file with its pragmas, running `script` on the read-write
    // files, and publishes the queues. Normally run by reloadDBLink.
    void openDatabases(const std::string& script);
    // Closes every queue; until the next reload lookups give nothing.
    void closeAll();
    // Runs the eight read-only pragmas on the queue, one block each; without
    // `exclusiveLocking` the connection keeps the normal locking mode (a file
    // another program writes).
    static void applyReadOnlyPragmas(const std::shared_ptr<sqlkit::SQLDatabaseQueue>& queue,
                                     bool exclusiveLocking = true);
    // Both empty the phrase cache at once, under its lock; a lookup that began
    // before stores nothing.
    void cleanCache();
    void clearCacheNow();
    // Replaces `destination` with the bundle's file, atomically.
    void copyBundledDatabase(const std::string& resourceName, const std::string& destination);

    bool isOpen() const;
    std::size_t cacheSize() const;

    // Paths.
    std::string customDBLocalPath() const;
    std::string mainCodeTableDBLocalPath() const;
    std::string assistDBLocalPath() const;
    std::string userDBLocalPath() const;
    std::string extendedDBLocalPath() const;
    std::string textReplacementDBPath() const;

    // Runs the block on the assist-code queue while the store is open; false
    // (block not run) when closed or absent. Blocks may call codesForWord but
    // must not call the store.
    bool inAssistDatabase(const std::function<void(sqlkit::SQLDatabase*)>& block);

    // --- code tables ----------------------------------------------------
    // The phrases of `code` in custom.db; while another program holds the
    // file locked, those read for the code before.
    std::vector<CodeTable> customPhrases(const std::string& code);
    void customPhraseRows(sqlkit::SQLDatabase* db, const std::string& code,
                          std::vector<CodeTable>& records);
    std::vector<CodeTable> codeTablePrefixQuery(const std::string& code, bool like);
    std::vector<CodeTable> englishWords(const std::string& text, bool prefix, int limit);
    std::string assistWords(const std::string& code);
    static void codesForWord(sqlkit::SQLDatabase* db, const std::string& word, std::string& codes);
    static void concatFirstColumn(sqlkit::SQLDatabase* db, const std::string& value,
                                  std::string& out, const std::string& sql);

    // --- user dictionary --------------------------------------------------
    std::string userDictTableName() const;
    void createUserDictTable(const std::string& tableName);
    std::vector<CodeTable> userDictionaryByPy(const std::string& key, int limit);
    void userWordExtendingKey(const std::string& sql, const std::string& key,
                              std::vector<CodeTable>& records);
    void userWordsByInitials(const std::string& key, std::vector<CodeTable>& records);
    // Adds one row; in full pinyin a code with apostrophes also gets a row
    // without them, and `record.code` ends without them.
    void insertUserWord(CodeTable& record, bool isNew);
    std::int64_t userWordRowid(const CodeTable& record);
    // Raises the row's weight by one (adding the row when missing), or
    // deletes it.
    void updateUserWordRow(CodeTable& record, bool remove);
    // Writes that wait for user.db (locked by another program, the disk full,
    // or the store closed); those refused because the queue was full.
    std::size_t pendingUserWrites() const;
    std::size_t lostUserWrites() const;
    // Why user.db cannot be written now, for the log (`text`) and the user
    // (`notice`).
    struct UserTrouble {
        enum Kind { notAFile, noPermission, diskFull, closed, locked } kind;
        std::string text;
        std::string notice;
    };
    UserTrouble userDatabaseTrouble() const;
    // Tries the waiting writes until none is left (true) or the deadline.
    bool flushPendingUserWrites(std::chrono::steady_clock::time_point deadline);

    // --- phrases over dag.db ----------------------------------------------
    std::vector<CodeTable> phraseWordsByPinyinColumns(const std::string& key, int limit,
                                                      const SyllableAlternatives& syllables);
    std::vector<CodeTable> userTableLikeAndPhrase(const std::string& key,
                                                  const SyllableAlternatives& syllables);
    std::vector<CodeTable> superSPWords(const std::string& key, const SyllableAlternatives& syllables);
    std::vector<CodeTable> dagWordsForQuery(const std::string& sql);

    // --- extended word libraries ---------------------------------------
    std::vector<CodeTable> extendedLookup(const SyllableAlternatives& syllables);
    std::string extendedWhereClause(const SyllableAlternatives& syllables) const;
    std::string extendedWhereClause(const SyllableAlternatives& syllables, const Settings& settings) const;

    // --- key statistics -----------------------------------------------------
    // Adds count to the day's row; false when nothing was written (the store
    // is closed, the file is missing or a statement failed).
    bool keyLog(std::chrono::system_clock::time_point date, std::int64_t count, bool isChar);
    void createKeyLogTables();

    // --- system text replacements ----------------------------------------
    std::vector<CodeTable> textReplacementPhrases(const std::string& shortcut);

    // The dag.db condition text over the columns p1, p2, ...
    std::string pinyinColumnConditions(const SyllableAlternatives& syllables) const;
    std::string pinyinColumnConditions(const SyllableAlternatives& syllables, const Settings& settings) const;

    // One settings snapshot; every operation takes one.
    std::shared_ptr<const Settings> currentSettings() const;

private:
    friend class UserStatements;
    struct Links;
    struct Slot;
    struct UserWrite;
    struct PendingWrites;
    struct CustomMemory;
    // busy: locked by another connection; full: the disk is full or writing
    // failed.
    enum class UserOutcome { done, closed, busy, full, damaged };
    // Outcomes after which a write waits and is tried again.
    static bool mustWait(UserOutcome out) {
        return out == UserOutcome::busy || out == UserOutcome::closed || out == UserOutcome::full;
    }
    enum class Queue {
        main, dag, extended, english, assist, custom, keyLogger, user, think, textReplacement
    };

    explicit Database(Locations locations);

    Hooks hooks() const;
    std::shared_lock<std::shared_mutex> readLinks() const;
    std::unique_lock<std::shared_mutex> writeLinks();
    std::shared_ptr<Double2Pinyin> d2f() const;
    SyllableAlternatives syllablesFromKey(const std::string& key, const Settings& settings) const;
    SyllableAlternatives initialsFromKey(const std::string& key) const;
    void openLinks(const std::string& script, const std::uint64_t* epoch);
    std::string expandTemplate(const std::string& text) const;

    // Runs fn(db) in one block on the queue when the store is open and the
    // queue exists; false otherwise.
    // `writes`: the file's identity is checked now, not taken from a check a
    // moment ago.
    bool inQueue(Queue which, const std::function<void(sqlkit::SQLDatabase*)>& fn, bool writes = false);
    // One block on user.db with the short lock wait; `keyPath` waits not at
    // all while user.db was found locked a moment ago. fn reports what its
    // statements met. A damaged file is moved aside, a fresh one started and
    // the block run once more.
    UserOutcome inUserDatabase(bool keyPath, const std::function<void(sqlkit::SQLDatabase*, UserOutcome&)>& fn,
                               bool writes = false);
    // Moves the damaged file of the queue aside and opens a fresh one.
    void replaceDamagedFile(Queue which, const sqlkit::SQLDatabaseQueue* damaged);
    void replaceDamagedSlot(Queue which, Slot& slot, const sqlkit::SQLDatabaseQueue* damaged);
    // Reads the file once: a damaged one is set aside at once.
    void probeDatabase(Queue which, const std::shared_ptr<Slot>& slot);
    // Drops the custom phrases read last (the file they came from is gone).
    void forgetCustomPhrases();
    void noteUserLocked();
    bool userLockedRecently() const;
    // `quiet`: failed statements are not logged.
    UserOutcome applyUserWrites(const std::vector<UserWrite>& writes, bool keyPath, bool quiet = false);
    void submitUserWrites(std::vector<UserWrite> writes);
    void enqueueUserWrites(std::vector<UserWrite> writes);
    // Remembers why writes wait; a full disk is logged and told once a spell.
    void noteWaitReason(UserOutcome out);
    // Writes the waiting writes in order until one cannot be written; true
    // when at least one was. `last` gets the outcome that stopped it.
    bool flushPendingOnce(UserOutcome* last);
    // Starts the retry loop when writes wait; `now` also wakes a running one.
    void startRetrying(bool now);
    static void retryLoop(std::weak_ptr<Database> store, std::shared_ptr<PendingWrites> pending);
    void tellUser(const std::string& title, const std::string& text);
    // Tells the user which files were moved out of the databases' places.
    void tellSetAside(const std::vector<sqlkit::SQLSetAside>& setAside);
    static std::shared_ptr<PendingWrites> makePendingWrites();
    void stopRetrying();
    std::vector<CodeTable> userRowsByPy(const std::string& key, int limit, bool* complete);
    // Like inQueue, for several blocks that must see the same queue.
    bool withQueue(Queue which, const std::function<void(sqlkit::SQLDatabaseQueue&)>& fn, bool writes = false);

    void storeCachedPhrases(const std::string& key, const std::vector<CodeTable>& list,
                            std::uint64_t generation);
    std::string userDictTableName(const Settings& settings) const;

    Locations locations_;

    mutable std::mutex hooksMutex_;
    Hooks hooks_;

    // Publication of the queues: links_ is replaced whole under the
    // exclusive lock; readers hold the shared lock while using a queue.
    // Writers pass linksGate_ first and hold it while waiting, which stops new
    // readers, so a stream of lookups cannot starve a close.
    mutable std::mutex linksGate_;
    mutable std::shared_mutex linksMutex_;
    std::shared_ptr<Links> links_;
    // Serialises reopenings; epoch_ (under linksMutex_) counts closes and
    // reloads so that a superseded reopening publishes nothing.
    std::mutex reloadMutex_;
    std::uint64_t epoch_ = 0;

    mutable std::mutex cacheMutex_;
    std::unordered_map<std::string, std::vector<CodeTable>> cache_;
    std::uint64_t cacheGeneration_ = 0;

    // Steady-clock ticks until which user.db counts as locked.
    std::atomic<std::int64_t> userLockedUntil_{0};
    std::shared_ptr<PendingWrites> pending_;
    // Serialises the writes of user.db, so queued ones keep their order.
    std::mutex userWriteMutex_;

    std::unique_ptr<CustomMemory> customMemory_;

    mutable std::mutex noticeMutex_;
    std::shared_ptr<UserNotice> notice_;
};

} // namespace taviro
