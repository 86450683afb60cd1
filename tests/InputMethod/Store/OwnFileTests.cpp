// The per-user databases are never opened through a link: a link, or a file
// with other hard links, in a database's place (or a journal's) is set aside,
// the file it leads to stays as it was, and the user is told once.

#include "StoreFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

namespace taviro::test {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

// An outside file and its neighbours, to compare before and after.
struct Outside {
    fs::path file;
    std::string bytes;
    unsigned mode = 0;
    std::vector<std::string> folder;

    static std::vector<std::string> names(const fs::path& dir) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    void take() {
        bytes = fs::exists(file) ? bytesOf(file) : std::string();
        mode = modeOf(file);
        folder = names(file.parent_path());
    }
    void expectUnchanged(const std::string& what) const {
        EXPECT_EQ(fs::exists(file) ? bytesOf(file) : std::string(), bytes) << what << ": the outside file changed";
        EXPECT_EQ(modeOf(file), mode) << what << ": the outside file's mode changed";
        EXPECT_EQ(names(file.parent_path()), folder) << what << ": files appeared beside the outside file";
    }
};

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

    // The names in the per-user folder that start with `name` + ".unusable-".
    std::vector<fs::path> setAside(const std::string& name) {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(loc_.userFolder))
            if (e.path().filename().string().rfind(name + ".unusable-", 0) == 0) out.push_back(e.path());
        return out;
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
        Outside outside{outsideDir / "other.db"};
        if (c.plant != Plant::dangling) {
            // Another program's database, in rollback-journal mode, open to others.
            execSql(outside.file, "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);"
                                  "INSERT INTO CodeTable VALUES('dz','外面',1);");
            fs::permissions(outside.file, fs::perms(0644));
        }
        const fs::path place = loc_.userFolder / c.name;
        if (c.plant == Plant::hardLink)
            fs::create_hard_link(outside.file, place);
        else
            fs::create_symlink(outside.file, place);
        outside.take();

        auto notice = std::make_shared<RecordingNotice>();
        auto& db = fresh();
        db.setUserNotice(notice);
        db.openDatabases(Database::reloadScript());
        typeSomething(db);
        outside.expectUnchanged(what + ", after typing");
        db.reloadDBLink().wait();
        typeSomething(db);
        db.closeAll();
        outside.expectUnchanged(what + ", after a reload");

        const auto aside = setAside(c.name);
        ASSERT_EQ(aside.size(), 1u);
        if (c.plant == Plant::hardLink)
            EXPECT_TRUE(fs::equivalent(aside[0], outside.file)) << "the hard link keeps its name beside";
        else
            EXPECT_EQ(fs::read_symlink(aside[0]), outside.file) << "the link itself is moved, not its target";
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

// SQLite never follows a link at a journal's name, but a hard link it would
// write; either is set aside, and the database works.
TEST_F(OwnFileTest, LinksAtJournalNamesAreSetAside) {
    struct Case {
        const char* database;
        const char* journal;
        Plant plant;
    };
    const Case cases[] = {
        {"user.db", "user.db-journal", Plant::link},
        {"user.db", "user.db-journal", Plant::hardLink},
        {"keys.db", "keys.db-wal", Plant::link},
        {"keys.db", "keys.db-wal", Plant::dangling},
        {"keys.db", "keys.db-shm", Plant::hardLink},
        {"custom.db", "custom.db-shm", Plant::link},
        {"custom.db", "custom.db-wal", Plant::hardLink},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.journal);
        fs::remove_all(loc_.userFolder);
        fs::create_directories(loc_.userFolder);
        writeCodeTable(loc_.userFolder / "custom.db", {{"dz", "地址", 1}});
        const fs::path outsideDir = freshDir("outside");
        Outside outside{outsideDir / "other"};
        if (c.plant != Plant::dangling) std::ofstream(outside.file) << "another program's bytes";
        if (c.plant == Plant::hardLink)
            fs::create_hard_link(outside.file, loc_.userFolder / c.journal);
        else
            fs::create_symlink(outside.file, loc_.userFolder / c.journal);
        outside.take();

        auto notice = std::make_shared<RecordingNotice>();
        auto& db = fresh();
        db.setUserNotice(notice);
        db.openDatabases(Database::reloadScript());
        CodeTable learnt("nihao", "你好", 1.0);
        db.insertUserWord(learnt, true);
        EXPECT_TRUE(db.flushPendingUserWrites(std::chrono::steady_clock::now() + std::chrono::seconds(2)));
        EXPECT_TRUE(db.keyLog(std::chrono::system_clock::now(), 3, true));
        EXPECT_EQ(words(db.customPhrases("dz")), std::vector<std::string>{"地址"});
        EXPECT_EQ(words(db.userDictionaryByPy("nihao", 10)), std::vector<std::string>{"你好"});
        db.closeAll();
        outside.expectUnchanged(c.journal);
        EXPECT_EQ(setAside(c.journal).size(), 1u);
        EXPECT_EQ(notice->count(), 1u);
    }
}

} // namespace
} // namespace taviro::test
