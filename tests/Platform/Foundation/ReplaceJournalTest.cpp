#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace plat {
namespace {

namespace fs = std::filesystem;
using Recovery = ReplaceJournal::Recovery;

std::string read(const fs::path& p) { return readWholeFile(p).value_or("<missing>"); }

// Every file name in a folder.
std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

// A folder with three old files, two of them in a subfolder, as a restore finds it.
class ReplaceJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = taviro::test::freshDir("journal");
        fs::create_directories(dir_ / "sub");
        targets_ = {dir_ / "table.db", dir_ / "sub" / "text.txt", dir_ / "config.plist"};
        for (const auto& t : targets_) ASSERT_TRUE(writeFileAtomically(t, "old " + t.filename().string()));
        ASSERT_TRUE(writeFileAtomically(dir_ / "table.db-wal", "stale wal"));
    }
    bool allOld() {
        for (const auto& t : targets_)
            if (read(t) != "old " + t.filename().string()) return false;
        return fs::exists(dir_ / "table.db-wal");
    }
    bool allNew() {
        for (const auto& t : targets_)
            if (read(t) != "new " + t.filename().string()) return false;
        return !fs::exists(dir_ / "table.db-wal");
    }
    // No staged file and no journal left.
    bool clean() {
        for (const fs::path& f : {dir_, dir_ / "sub"})
            for (const auto& n : names(f))
                if (parseTemporaryName(n) || n == ReplaceJournal::journalPath(dir_).filename()) return false;
        return true;
    }
    void stageAll(ReplaceJournal& j) {
        // config.plist is staged first but goes in place last.
        ASSERT_TRUE(j.stage(targets_[2], "new config.plist", ReplaceJournal::Order::CommitPoint));
        ASSERT_TRUE(j.stage(targets_[0], "new table.db"));
        ASSERT_TRUE(j.stage(targets_[1], "new text.txt"));
    }
    // A separate process stages every file and is killed before it commits. It signals on
    // `ready` and waits for the kill when `hold` is set.
    pid_t stageInChild(bool hold, int ready = -1) {
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        auto j = ReplaceJournal::begin(dir_);
        if (!j) ::_exit(3);
        for (const auto& t : {targets_[2], targets_[0], targets_[1]})
            if (!j->stage(t, "new " + t.filename().string(),
                          t == targets_[2] ? ReplaceJournal::Order::CommitPoint : ReplaceJournal::Order::Normal))
                ::_exit(4);
        if (ready >= 0) (void)!::write(ready, "r", 1);
        if (hold) ::pause();
        ::_exit(0);  // no destructor: as if killed
    }
    void runChild() {
        const pid_t pid = stageInChild(false);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    fs::path dir_;
    std::vector<fs::path> targets_;
};

TEST_F(ReplaceJournalTest, CommitPutsEveryFileInPlaceAndLeavesNothingBehind) {
    auto j = ReplaceJournal::begin(dir_);
    ASSERT_TRUE(j);
    stageAll(*j);
    EXPECT_TRUE(allOld());
    // A second replacement in the same folder waits its turn.
    EXPECT_FALSE(ReplaceJournal::begin(dir_));
    ASSERT_TRUE(j->commit());
    EXPECT_TRUE(allNew());
    EXPECT_TRUE(clean());
    EXPECT_EQ(ReplaceJournal::recover(dir_), Recovery::Nothing);
}

TEST_F(ReplaceJournalTest, RollbackAndDestructionLeaveTheOldFiles) {
    {
        auto j = ReplaceJournal::begin(dir_);
        ASSERT_TRUE(j);
        stageAll(*j);
        j->rollback();
    }
    EXPECT_TRUE(allOld());
    EXPECT_TRUE(clean());
    {
        auto j = ReplaceJournal::begin(dir_);
        ASSERT_TRUE(j);
        stageAll(*j);
        const auto staged = j->stagedFor(targets_[0]);
        ASSERT_TRUE(staged);
        j->discard(*staged);
        EXPECT_FALSE(fs::exists(*staged));
    }
    EXPECT_TRUE(allOld());
    EXPECT_TRUE(clean());
}

// What a kill leaves, and what the next start makes of it. The journal of a kill during
// the renames is built from a killed staging: marked complete, with the first files moved.
TEST_F(ReplaceJournalTest, TheNextStartFinishesACompleteJournalAndUndoesAnIncompleteOne) {
    struct Case {
        const char* name;
        bool complete;
        int alreadyMoved;  // of the pairs in journal order
        bool damaged;
        Recovery expected;
    };
    const Case cases[] = {
        {"killed while staging", false, 0, false, Recovery::RolledBack},
        {"killed before the first rename", true, 0, false, Recovery::Finished},
        {"killed after one rename", true, 1, false, Recovery::Finished},
        {"killed before the commit point", true, 2, false, Recovery::Finished},
        {"killed before the journal went", true, 3, false, Recovery::Finished},
        {"an unreadable journal", false, 0, true, Recovery::RolledBack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        runChild();
        const fs::path journal = ReplaceJournal::journalPath(dir_);
        auto value = readPlistFile(journal, PlistValue::Type::Dictionary);
        ASSERT_TRUE(value);
        const auto files = *(*value)["Files"].asArray();
        ASSERT_EQ(files.size(), 3u);
        if (c.complete) {
            // In commit order: the commit point last.
            PlistValue::Array ordered{files[1], files[2], files[0]};
            for (int i = 0; i < c.alreadyMoved; ++i) {
                const fs::path target = ordered[i].find("Target")->asString();
                fs::remove(fs::path(target.string() + "-wal"));
                fs::rename(ordered[i].find("Staged")->asString(), target);
            }
            (*value)["State"] = "complete";
            (*value)["Files"] = ordered;
            ASSERT_TRUE(writePlistFile(journal, *value));
        }
        if (c.damaged) {
            ASSERT_TRUE(writeFileAtomically(journal, "<plist><dict"));
        }
        EXPECT_EQ(ReplaceJournal::recover(dir_), c.expected);
        if (c.expected == Recovery::Finished) {
            EXPECT_TRUE(allNew());
        } else {
            EXPECT_TRUE(allOld());
        }
        EXPECT_FALSE(fs::exists(journal));
        if (!c.damaged) {
            EXPECT_TRUE(clean());
        }
        EXPECT_EQ(ReplaceJournal::recover(dir_), Recovery::Nothing);
    }
}

TEST_F(ReplaceJournalTest, AJournalThatNamesOtherFilesMovesNothingOfThem) {
    runChild();
    const fs::path outside = taviro::test::freshDir("outside") / "precious";
    ASSERT_TRUE(writeFileAtomically(outside, "keep"));
    ASSERT_TRUE(writeFileAtomically(dir_ / "victim", "keep"));
    auto value = readPlistFile(ReplaceJournal::journalPath(dir_), PlistValue::Type::Dictionary);
    ASSERT_TRUE(value);
    auto files = *(*value)["Files"].asArray();
    const std::pair<fs::path, fs::path> hostile[] = {
        {outside, dir_ / "config.plist"},                          // from another folder
        {dir_ / "victim", dir_ / "config.plist"},                  // not a staged name
        {dir_ / ".victim.tmp.abcdef", dir_ / "config.plist"},      // staged for another target
        {"relative/.config.plist.tmp.abcdef", "relative/config.plist"},
    };
    for (const auto& [staged, target] : hostile)
        files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", staged.string()}, {"Target", target.string()}}));
    (*value)["Files"] = files;
    (*value)["State"] = "complete";
    ASSERT_TRUE(writePlistFile(ReplaceJournal::journalPath(dir_), *value));
    EXPECT_EQ(ReplaceJournal::recover(dir_), Recovery::Finished);
    EXPECT_TRUE(allNew());
    EXPECT_EQ(read(outside), "keep");
    EXPECT_EQ(read(dir_ / "victim"), "keep");
}

// While another process stages, neither recovery nor the clean-up of temporaries touches
// its files; once it is killed, the next start undoes what it staged.
TEST_F(ReplaceJournalTest, AReplacementAtWorkInAnotherProcessIsLeftAlone) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = stageInChild(true, ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const auto before = names(dir_);
    EXPECT_EQ(ReplaceJournal::recover(dir_, [] { ADD_FAILURE() << "finished a live replacement"; }), Recovery::Busy);
    EXPECT_TRUE(removeStaleTemporaries(dir_, {}).empty());
    EXPECT_EQ(recoverAtStart(dir_, dir_ / "sub"), Recovery::Busy);
    EXPECT_EQ(names(dir_), before);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(recoverAtStart(dir_, dir_ / "sub"), Recovery::RolledBack);
    EXPECT_TRUE(allOld());
    EXPECT_TRUE(clean());
}

TEST(TemporaryFiles, NamesOfTemporaries) {
    struct Case {
        const char* name;
        std::optional<TemporaryKind> kind;
        const char* target;
    };
    const Case cases[] = {
        {".config.plist.tmp.Ab12cd", TemporaryKind::AtomicWrite, "config.plist"},
        {".PunctuationMapping.plist.tmp.0123456789abcdef", TemporaryKind::AtomicWrite, "PunctuationMapping.plist"},
        {".custom.db.tmp.abcdefghij-journal", TemporaryKind::AtomicWrite, "custom.db"},
        {"custom.db.new-12-3", TemporaryKind::Rebuild, "custom.db"},
        {".custom.db.new-12-3-wal", TemporaryKind::Rebuild, ".custom.db"},
        {"mainCodeTable.database.new-4-0-shm", TemporaryKind::Rebuild, "mainCodeTable.database"},
        {"config.plist", std::nullopt, ""},
        {".config.plist.tmp.abc", std::nullopt, ""},       // too short a suffix
        {".config.plist.tmp.ab-cdef", std::nullopt, ""},   // not letters or digits
        {"notes.new-draft", std::nullopt, ""},
        {".tmp.abcdef", std::nullopt, ""},
        {"store.json.tmp.abcdef", std::nullopt, ""},       // no leading dot
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto t = parseTemporaryName(c.name);
        ASSERT_EQ(t.has_value(), c.kind.has_value());
        if (!t) continue;
        EXPECT_EQ(t->kind, *c.kind);
        EXPECT_EQ(t->target, c.target);
    }
}

TEST(TemporaryFiles, OnlyOldTemporariesThatNobodyHoldsGo) {
    const fs::path dir = taviro::test::freshDir("stale-temps");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    // name -> (age is old, expected to go)
    const std::map<std::string, std::pair<bool, bool>> files = {
        {".config.plist.tmp.Ab12cd", {true, true}},
        {".spScheme.plist.tmp.Zz99zz", {true, true}},
        {".PunctuationMapping.plist.tmp.young1", {false, false}},
        {".custom.db.new-1-2", {true, true}},
        {".custom.db.new-1-2-journal", {true, true}},
        {"custom.db.new-7-7-wal", {true, true}},
        {".held.plist.tmp.abcdef", {true, false}},
        {"config.plist", {true, false}},
        {".config.plist.lock", {true, false}},
        {"readme.tmp.abcdef", {true, false}},
    };
    for (const auto& [name, how] : files) {
        ASSERT_TRUE(writeFileAtomically(dir / name, "x"));
        if (how.first) fs::last_write_time(dir / name, old);
    }
    // Held by a writer at work in another process.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open((dir / ".held.plist.tmp.abcdef").c_str(), O_RDONLY);
        ::flock(fd, LOCK_EX);
        ::pause();
        ::_exit(0);
    }
    for (int i = 0; i < 500; ++i) {
        const int fd = ::open((dir / ".held.plist.tmp.abcdef").c_str(), O_RDONLY);
        const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        if (busy) break;
        ::usleep(2000);
    }
    removeStaleTemporaries(dir, {std::chrono::minutes(5), {}, std::nullopt});
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    for (const auto& [name, how] : files) EXPECT_EQ(fs::exists(dir / name), !how.second) << name;
}

} // namespace
} // namespace plat
