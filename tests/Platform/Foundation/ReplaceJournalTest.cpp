#include "Platform/Foundation/DictionaryFile.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
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

// A per-user folder (with the user folder "sub" inside) and three of the files a restore
// replaces, as it finds them.
class ReplaceJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = taviro::test::freshDir("journal");
        fs::create_directories(dir_ / "sub");
        targets_ = {dir_ / "custom.db", dir_ / "sub" / "text.txt", dir_ / "config.plist"};
        for (const auto& t : targets_) ASSERT_TRUE(writeFileAtomically(t, "old " + t.filename().string()));
        ASSERT_TRUE(writeFileAtomically(dir_ / "custom.db-wal", "stale wal"));
    }
    bool allOld() {
        for (const auto& t : targets_)
            if (read(t) != "old " + t.filename().string()) return false;
        return fs::exists(dir_ / "custom.db-wal");
    }
    bool allNew() {
        for (const auto& t : targets_)
            if (read(t) != "new " + t.filename().string()) return false;
        return !fs::exists(dir_ / "custom.db-wal");
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
        ASSERT_TRUE(j.stage(targets_[0], "new custom.db"));
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
    EXPECT_EQ(ReplaceJournal::recover(dir_, dir_ / "sub"), Recovery::Nothing);
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
        EXPECT_EQ(ReplaceJournal::recover(dir_, dir_ / "sub"), c.expected);
        if (c.expected == Recovery::Finished) {
            EXPECT_TRUE(allNew());
        } else {
            EXPECT_TRUE(allOld());
        }
        EXPECT_FALSE(fs::exists(journal));
        if (!c.damaged) {
            EXPECT_TRUE(clean());
        }
        EXPECT_EQ(ReplaceJournal::recover(dir_, dir_ / "sub"), Recovery::Nothing);
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
        {dir_ / temporaryFileName("victim", TemporaryKind::AtomicWrite, "abcdef"), dir_ / "config.plist"},  // staged for another target
        {fs::path("relative") / temporaryFileName("config.plist", TemporaryKind::AtomicWrite, "abcdef"),
         "relative/config.plist"},
    };
    for (const auto& [staged, target] : hostile)
        files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", staged.string()}, {"Target", target.string()}}));
    (*value)["Files"] = files;
    (*value)["State"] = "complete";
    ASSERT_TRUE(writePlistFile(ReplaceJournal::journalPath(dir_), *value));
    EXPECT_EQ(ReplaceJournal::recover(dir_, dir_ / "sub"), Recovery::Finished);
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
    EXPECT_EQ(ReplaceJournal::recover(dir_, dir_ / "sub", [] { ADD_FAILURE() << "finished a live replacement"; }), Recovery::Busy);
    EXPECT_TRUE(removeStaleTemporaries(dir_, {std::chrono::seconds(0), {{"custom.db", "config.plist"}, {}}, std::nullopt}).empty());
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

// A journal that someone else wrote, naming files outside the folders a restore writes:
// nothing outside changes, whether the journal says the replacement is complete or not.
TEST(ReplaceJournalHostile, EntriesOutsideTheRestoreFoldersAreRefused) {
    const fs::path base = taviro::test::freshDir("hostile");
    const fs::path per = base / "TaviroMac", user = base / "user", outside = base / "outside";
    for (const fs::path& f : {per, user, outside, outside / "deep"}) fs::create_directories(f);
    fs::create_directory_symlink(outside, user / "KeyMaps");
    const std::string stagedName = temporaryFileName("precious", TemporaryKind::AtomicWrite, "abcdef");
    const std::map<fs::path, std::string> outsideFiles = {
        {outside / "precious", "keep"},
        {outside / "precious-wal", "recent commits"},
        {outside / stagedName, "not ours"},
        {outside / "deep" / "precious", "keep deep"},
        {outside / "deep" / stagedName, "not ours either"},
    };
    const std::pair<fs::path, fs::path> hostile[] = {
        {outside / stagedName, outside / "precious"},                                        // elsewhere
        {per / ".." / "outside" / stagedName, per / ".." / "outside" / "precious"},          // through ".."
        {user / "sub" / ".." / ".." / "outside" / stagedName, user / ".." / "outside" / "precious"},
        {user / "KeyMaps" / stagedName, user / "KeyMaps" / "precious"},                      // a linked subfolder
        {user / "KeyMaps" / "deep" / stagedName, user / "KeyMaps" / "deep" / "precious"},
        {fs::path("/") / ".." / outside.relative_path() / stagedName, outside / "precious"},
    };
    for (const char* state : {"staging", "complete"}) {
        SCOPED_TRACE(state);
        for (const auto& [path, bytes] : outsideFiles) ASSERT_TRUE(writeFileAtomically(path, bytes));
        // One entry the restore wrote itself, beside the hostile ones.
        ASSERT_TRUE(writeFileAtomically(per / "config.plist", "old"));
        const fs::path staged = per / temporaryFileName("config.plist", TemporaryKind::AtomicWrite, "Own123");
        ASSERT_TRUE(writeFileAtomically(staged, "new"));
        PlistValue::Array files;
        for (const auto& [s, t] : hostile)
            files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", s.string()}, {"Target", t.string()}}));
        files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", staged.string()}, {"Target", (per / "config.plist").string()}}));
        ASSERT_TRUE(writePlistFile(ReplaceJournal::journalPath(per),
                                   PlistValue(PlistValue::Dictionary{
                                       {"State", std::string(state)}, {"Mark", std::string("Own123")}, {"Files", files}})));
        LogCapture logged;
        EXPECT_NE(ReplaceJournal::recover(per, user), Recovery::Nothing);
        for (const auto& [path, bytes] : outsideFiles) EXPECT_EQ(read(path), bytes) << path;
        EXPECT_EQ(read(per / "config.plist"), std::string(state) == "complete" ? "new" : "old");
        EXPECT_FALSE(fs::exists(staged));
        std::size_t refused = 0;
        for (const auto& line : logged.lines()) refused += line.find("refused a replacement journal entry") != std::string::npos;
        EXPECT_EQ(refused, std::size(hostile));
    }
}

// Every regular file beneath `root` (links not followed) with its bytes.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && !e.is_symlink()) out[fs::relative(e.path(), root).string()] = read(e.path());
    return out;
}

// A journal planted in the per-user folder that names the user's own files in the user
// folder, at any depth: none of them changes or loses its -wal, each entry is logged by
// its target, and the entry for a file the programs write there is still obeyed.
TEST(ReplaceJournalHostile, EntriesForTheUsersOwnFilesAreRefused) {
    const fs::path base = taviro::test::freshDir("users-files");
    const fs::path per = base / "TaviroMac", user = base / "user", outside = base / "outside";
    for (const fs::path& f : {per, user / "private" / "deep", user / "Extended", user / "BootButtons",
                              user / "AssistCodes", outside})
        fs::create_directories(f);
    fs::create_directory_symlink(outside, user / "KeyMaps");
    const fs::path hostile[] = {
        user / "photo.jpg",
        user / "private" / "deep" / "diary.txt",
        user / "private" / "notes.plist",
        user / "Extended" / "words.txt",          // a folder the programs write no restore into
        user / "BootButtons" / "notes.txt",       // a folder they write, a name they do not
        user / "AssistCodes" / "readme.md",
        user / "KeyMaps" / "scheme.plist",        // a name they write, through a linked folder
        per / "photo.jpg",
    };
    for (const auto& target : hostile) {
        ASSERT_TRUE(writeFileAtomically(target, "the user's " + target.filename().string()));
        ASSERT_TRUE(writeFileAtomically(fs::path(target.string() + "-wal"), "the user's log"));
    }
    const fs::path own = user / "AssistCodes" / "五笔.txt";
    ASSERT_TRUE(writeFileAtomically(own, "old"));
    PlistValue::Array files;
    for (const auto& target : hostile) {
        const fs::path staged = target.parent_path() / temporaryFileName(target.filename().string(),
                                                                         TemporaryKind::AtomicWrite, "Evil12");
        ASSERT_TRUE(writeFileAtomically(staged, "replaced"));
        files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", staged.string()}, {"Target", target.string()}}));
    }
    const fs::path ownStaged = user / "AssistCodes" / temporaryFileName("五笔.txt", TemporaryKind::AtomicWrite, "Own123");
    ASSERT_TRUE(writeFileAtomically(ownStaged, "new"));
    files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", ownStaged.string()}, {"Target", own.string()}}));
    ASSERT_TRUE(writePlistFile(ReplaceJournal::journalPath(per),
                               PlistValue(PlistValue::Dictionary{
                                   {"State", std::string("complete")}, {"Mark", std::string("Own123")}, {"Files", files}})));

    auto expected = tree(base);
    expected.erase(fs::relative(ownStaged, base).string());
    expected.erase(fs::relative(ReplaceJournal::journalPath(per), base).string());
    expected[fs::relative(own, base).string()] = "new";
    // The locks recovery takes in the per-user folder stay, empty.
    for (const char* lock : {".config.plist.lock", ".replace-journal.lock"}) expected["TaviroMac/" + std::string(lock)] = "";
    LogCapture logged;
    EXPECT_EQ(ReplaceJournal::recover(per, user), Recovery::Finished);
    EXPECT_EQ(tree(base), expected);
    for (const auto& target : hostile) {
        std::size_t named = 0;
        for (const auto& line : logged.lines())
            named += line.find("refused a replacement journal entry") != std::string::npos &&
                     line.ends_with(" -> " + target.string());
        EXPECT_EQ(named, 1u) << target << "\n" << ::testing::PrintToString(logged.lines());
    }
}

// A journal names files the programs write, but its restore did not stage them: the
// user's own text file in the user folder, tables and buttons named after its files. Only
// a staged file that carries the journal's mark is put in place (and logged by name); the
// others, their targets and their -wal stay as they are, whether the journal says the
// replacement is complete or not.
TEST(ReplaceJournalHostile, OnlyFilesTheJournalStagedItselfArePutInPlace) {
    const fs::path base = taviro::test::freshDir("unstaged");
    const fs::path per = base / "TaviroMac", user = base / "user";
    for (const fs::path& f : {per, user / "AssistCodes", user / "BootButtons", user / "KeyMaps"})
        fs::create_directories(f);
    struct Case {
        const char* name;
        fs::path target;
        std::string suffix;  // of the staged file planted beside it
    };
    const std::string mark = "Mark0123456789ab";
    const Case cases[] = {
        {"the user's notes", user / "mynotes.txt", "Notes1"},
        {"a text in AssistCodes", user / "AssistCodes" / "readme.txt", "abcdef"},
        {"buttons of the user", user / "BootButtons" / "mine.plist", "XYZ789"},
        {"a scheme of the user", user / "KeyMaps" / "mine.plist", "Mark0123456789"},  // the mark, cut short
        {"a mark longer than the journal's", user / "other.txt", mark + "c"},
        {"settings staged by someone else", per / "config.plist", "Other1"},
    };
    const fs::path own = user / "AssistCodes" / "五笔.txt";
    const fs::path ownStaged = own.parent_path() / temporaryFileName("五笔.txt", TemporaryKind::AtomicWrite, mark);
    struct Journal {
        const char* name;
        std::optional<std::string> mark;
        bool ownObeyed;
    };
    for (const Journal& journal : {Journal{"its mark", mark, true}, Journal{"no mark", std::nullopt, false},
                                  Journal{"a mark that is no name", "../../x", false}}) {
        for (const char* state : {"complete", "staging"}) {
            SCOPED_TRACE(std::string(journal.name) + ", " + state);
            PlistValue::Array files;
            std::vector<fs::path> planted;
            for (const auto& c : cases) {
                ASSERT_TRUE(writeFileAtomically(c.target, "the user's " + c.target.filename().string()));
                ASSERT_TRUE(writeFileAtomically(fs::path(c.target.string() + "-wal"), "the user's log"));
                const fs::path staged = c.target.parent_path() / temporaryFileName(c.target.filename().string(),
                                                                                   TemporaryKind::AtomicWrite, c.suffix);
                ASSERT_TRUE(writeFileAtomically(staged, "replaced"));
                planted.push_back(staged);
                files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", staged.string()}, {"Target", c.target.string()}}));
            }
            ASSERT_TRUE(writeFileAtomically(own, "old"));
            ASSERT_TRUE(writeFileAtomically(ownStaged, "new"));
            files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", ownStaged.string()}, {"Target", own.string()}}));
            PlistValue::Dictionary j{{"State", std::string(state)}, {"Files", files}};
            if (journal.mark) j["Mark"] = *journal.mark;
            ASSERT_TRUE(writePlistFile(ReplaceJournal::journalPath(per), PlistValue(j)));

            LogCapture logged;
            EXPECT_NE(ReplaceJournal::recover(per, user), Recovery::Nothing);
            for (const auto& c : cases) {
                SCOPED_TRACE(c.name);
                EXPECT_EQ(read(c.target), "the user's " + c.target.filename().string());
                EXPECT_EQ(read(fs::path(c.target.string() + "-wal")), "the user's log");
                std::size_t refused = 0;
                for (const auto& line : logged.lines())
                    refused += line.find("refused a replacement journal entry") != std::string::npos &&
                               line.ends_with(" -> " + c.target.string());
                EXPECT_EQ(refused, 1u) << ::testing::PrintToString(logged.lines());
            }
            // Files it did not stage are not its to remove either.
            for (const auto& staged : planted) EXPECT_EQ(read(staged), "replaced") << staged;
            const bool obeyed = journal.ownObeyed && std::string(state) == "complete";
            EXPECT_EQ(read(own), obeyed ? "new" : "old");
            EXPECT_EQ(fs::exists(ownStaged), !journal.ownObeyed);
            std::size_t replaced = 0;
            for (const auto& line : logged.lines()) replaced += line.find("replaced " + own.string()) != std::string::npos;
            EXPECT_EQ(replaced, obeyed ? 1u : 0u) << ::testing::PrintToString(logged.lines());
            for (const auto& staged : planted) fs::remove(staged);
            fs::remove(ownStaged);
        }
    }
}

// A journal too large to be one, or a folder in its place, is set aside unread: once, and
// the next starts neither read nor log it again.
TEST(ReplaceJournalHostile, AnOversizedJournalOrAFolderInItsPlaceIsSetAsideOnce) {
    struct Case {
        const char* name;
        bool folder;
    };
    for (const Case c : {Case{"a journal of more than 1 MiB", false}, Case{"a folder in its place", true}}) {
        SCOPED_TRACE(c.name);
        const fs::path per = taviro::test::freshDir("oversized"), user = per / "user";
        const fs::path journal = ReplaceJournal::journalPath(per);
        ASSERT_TRUE(writeFileAtomically(per / "config.plist", "old"));
        const fs::path staged = per / temporaryFileName("config.plist", TemporaryKind::AtomicWrite, "Own123");
        ASSERT_TRUE(writeFileAtomically(staged, "new"));
        if (c.folder) {
            fs::create_directories(journal / "someone's");
            ASSERT_TRUE(writeFileAtomically(journal / "someone's" / "file", "theirs"));
        } else {
            // A complete journal whose one true entry comes after 1 MiB of others.
            PlistValue junk = PlistValue::dictionary();
            junk["Staged"] = std::string(200, 'p');
            junk["Target"] = std::string(200, 'p');
            PlistValue::Array files(6000, junk);
            files.push_back(PlistValue(PlistValue::Dictionary{{"Staged", staged.string()}, {"Target", (per / "config.plist").string()}}));
            ASSERT_TRUE(writePlistFile(journal, PlistValue(PlistValue::Dictionary{{"State", std::string("complete")}, {"Files", files}})));
            ASSERT_GT(fs::file_size(journal), kMaxDictionaryFileSize);
        }
        {
            LogCapture logged;
            recoverAtStart(per, user);
            EXPECT_EQ(logged.lines().size(), 1u) << ::testing::PrintToString(logged.lines());
        }
        EXPECT_EQ(read(per / "config.plist"), "old");
        EXPECT_FALSE(fs::exists(fs::symlink_status(journal)));
        std::vector<fs::path> aside;
        for (const auto& e : fs::directory_iterator(per))
            if (e.path().filename().string().starts_with(".replace-journal.plist.damaged-")) aside.push_back(e.path());
        ASSERT_EQ(aside.size(), 1u);
        if (c.folder) {
            EXPECT_EQ(read(aside[0] / "someone's" / "file"), "theirs");
        }
        LogCapture again;
        EXPECT_EQ(recoverAtStart(per, user), Recovery::Nothing);
        EXPECT_TRUE(again.lines().empty()) << ::testing::PrintToString(again.lines());
    }
}

} // namespace
} // namespace plat
