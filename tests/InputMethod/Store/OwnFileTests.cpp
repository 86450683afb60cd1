// The per-user databases are never opened through a link: a link, or a file
// with other hard links, in a database's place (or a journal's) is set aside,
// the file it leads to stays as it was, and the user is told once.

#include "StoreFixture.h"
#include "support/FileState.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace taviro::test {
namespace {

namespace fs = std::filesystem;

enum class Plant { link, dangling, hardLink };

class OwnFileTest : public StoreTest {
protected:
    // Everything the store writes or reads in the per-user folder, once.
    void typeSomething(Database& db) {
        CodeTable learnt("nihao", "你好", 1.0);
        db.insertUserWord(learnt, true);
        db.flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(2));
        db.keyLog(std::chrono::system_clock::now(), 3, true);
        db.customPhrases("dz");
        db.extendedLookup({{"zhang"}, {"san"}});
        db.codeTablePrefixQuery("ab", false);
        db.assistWords("hk");
    }

    std::vector<fs::path> setAside(const std::string& name) { return taviro::test::setAsideIn(loc_.userFolder, name); }

    // Opens a fresh store, learns a word, counts keys and reads the word and the
    // custom phrase "dz" back (地址, which the test put in custom.db); the number of
    // notices the user got.
    std::size_t learnsAndReads() {
        auto notice = std::make_shared<RecordingNotice>();
        auto& db = fresh();
        db.setUserNotice(notice);
        db.openDatabases(Database::reloadScript());
        CodeTable learnt("nihao", "你好", 1.0);
        db.insertUserWord(learnt, true);
        EXPECT_TRUE(db.flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(2)));
        EXPECT_TRUE(db.keyLog(std::chrono::system_clock::now(), 3, true));
        EXPECT_EQ(words(db.userDictionaryByPy("nihao", 10)), std::vector<std::string>{"你好"});
        EXPECT_EQ(words(db.customPhrases("dz")), std::vector<std::string>{"地址"});
        db.closeAll();
        return notice->count();
    }
};

TEST_F(OwnFileTest, LinksAndHardLinksInADatabasesPlaceAreSetAsideAndNeverWritten) {
    const mode_t oldMask = ::umask(022);
    setSettings([](Settings& s) { s.codeTableVersion = 1; });
    struct Case {
        const char* name;
        Plant plant;
        bool typed;  // holds what the user typed: a fresh 0600 file takes its place
        bool created; // the store makes a fresh file in its place
    };
    const Case cases[] = {
        {"user.db", Plant::link, true, true},
        {"user.db", Plant::dangling, true, true},
        {"user.db", Plant::hardLink, true, true},
        {"keys.db", Plant::link, true, true},
        {"keys.db", Plant::dangling, true, true},
        {"keys.db", Plant::hardLink, true, true},
        {"think.db", Plant::link, true, true},
        {"think.db", Plant::dangling, true, true},
        {"think.db", Plant::hardLink, true, true},
        {"custom.db", Plant::link, true, false},
        {"custom.db", Plant::dangling, true, false},
        {"custom.db", Plant::hardLink, true, false},
        {"extended.db", Plant::link, false, false},
        {"extended.db", Plant::dangling, false, false},
        {"extended.db", Plant::hardLink, false, false},
        {"mainCodeTable.database", Plant::link, false, false},
        {"mainCodeTable.database", Plant::hardLink, false, false},
        {"assist.database", Plant::link, false, false},
        {"assist.database", Plant::hardLink, false, false},
    };
    const char* const kinds[] = {"link", "dangling link", "hard link"};
    for (const auto& c : cases) {
        const std::string what = std::string(c.name) + " as a " + kinds[static_cast<int>(c.plant)];
        SCOPED_TRACE(what);
        fs::remove_all(loc_.userFolder);
        fs::create_directories(loc_.userFolder);
        const fs::path outsideDir = freshDir("outside");
        const fs::path outside = outsideDir / "other.db";
        if (c.plant != Plant::dangling) {
            // Another program's database, in rollback-journal mode, open to others.
            execSql(outside, "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);"
                                  "INSERT INTO CodeTable VALUES('dz','外面',1);");
            fs::permissions(outside, fs::perms(0644));
        }
        const fs::path place = loc_.userFolder / c.name;
        if (c.plant == Plant::hardLink)
            fs::create_hard_link(outside, place);
        else
            fs::create_symlink(outside, place);
        const FileState before = stateOf(outside);

        auto notice = std::make_shared<RecordingNotice>();
        auto& db = fresh();
        db.setUserNotice(notice);
        db.openDatabases(Database::reloadScript());
        typeSomething(db);
        EXPECT_EQ(stateOf(outside), before) << "after typing: the outside file or its folder changed";
        db.reloadDBLink().wait();
        typeSomething(db);
        db.closeAll();
        EXPECT_EQ(stateOf(outside), before) << "after a reload: the outside file or its folder changed";

        const auto aside = setAside(c.name);
        ASSERT_EQ(aside.size(), 1u);
        if (c.plant == Plant::hardLink)
            EXPECT_TRUE(fs::equivalent(aside[0], outside)) << "the hard link keeps its name beside";
        else
            EXPECT_EQ(fs::read_symlink(aside[0]), outside) << "the link itself is moved, not its target";
        ASSERT_EQ(notice->count(), 1u);
        EXPECT_NE(notice->posts()[0].find(aside[0].filename().string()), std::string::npos) << notice->posts()[0];

        struct stat st {};
        if (c.created) {
            ASSERT_EQ(::lstat(place.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_nlink, 1u);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        } else {
            EXPECT_NE(::lstat(place.c_str(), &st), 0) << "nothing stands in for it";
        }
    }
    ::umask(oldMask);
}

// The per-user folder itself may be reached through a link (a home on another
// disk): its databases open and learn as ever.
TEST_F(OwnFileTest, APerUserFolderReachedThroughALinkWorks) {
    const fs::path real = freshDir("real-user");
    fs::remove_all(loc_.userFolder);
    fs::create_directory_symlink(real, loc_.userFolder);
    writeCodeTable(real / "custom.db", {{"dz", "地址", 1}});
    EXPECT_EQ(learnsAndReads(), 0u);
    for (const char* name : {"user.db", "keys.db", "think.db"})
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(real / name))) << name;
}

// SQLite never follows a link at a journal's name (the database cannot be
// written then) and writes into a hard link at -wal: either is set aside, and
// the database works.
TEST_F(OwnFileTest, LinksAtJournalNamesAreSetAside) {
    struct Case {
        const char* journal;
        Plant plant;
    };
    const Case cases[] = {
        {"user.db-journal", Plant::link},
        {"user.db-journal", Plant::hardLink},
        {"keys.db-wal", Plant::link},
        {"keys.db-wal", Plant::dangling},
        {"keys.db-shm", Plant::hardLink},
        {"custom.db-shm", Plant::link},
        {"custom.db-wal", Plant::hardLink},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.journal);
        fs::remove_all(loc_.userFolder);
        fs::create_directories(loc_.userFolder);
        writeCodeTable(loc_.userFolder / "custom.db", {{"dz", "地址", 1}});
        const fs::path outsideDir = freshDir("outside");
        const fs::path outside = outsideDir / "other";
        if (c.plant != Plant::dangling) std::ofstream(outside) << "another program's bytes";
        if (c.plant == Plant::hardLink)
            fs::create_hard_link(outside, loc_.userFolder / c.journal);
        else
            fs::create_symlink(outside, loc_.userFolder / c.journal);
        const FileState before = stateOf(outside);

        EXPECT_EQ(learnsAndReads(), 1u) << "told once";
        EXPECT_EQ(stateOf(outside), before) << "the outside file or its folder changed";
        EXPECT_EQ(setAside(c.journal).size(), 1u);
    }
}

} // namespace
} // namespace taviro::test
