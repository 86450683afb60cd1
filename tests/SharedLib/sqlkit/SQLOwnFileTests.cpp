#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "SharedLib/sqlkit/SQLDatabase.h"
#include "SharedLib/sqlkit/SQLOwnFile.h"
#include "support/FileState.h"
#include "support/TestHome.h"

namespace sqlkit {
namespace {

namespace fs = std::filesystem;
using taviro::test::bytesOf;
using taviro::test::modeOf;
using taviro::test::namesIn;

void makeDatabase(const fs::path& p, const char* journalMode) {
    SQLDatabase db(p.string());
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(db.executeStatements(std::string("PRAGMA journal_mode=") + journalMode +
                                     "; CREATE TABLE IF NOT EXISTS t (x);"));
    db.close();
}

// Writes a row through a connection opened as the programs open their own files.
bool writeRow(const fs::path& p, int flags) {
    SQLDatabase db(p.string());
    db.setLogsErrors(false);
    if (!db.openWithFlags(flags)) return false;
    const bool ok = db.executeStatements("CREATE TABLE IF NOT EXISTS t (x); INSERT INTO t VALUES (1);");
    db.close();
    return ok;
}

enum class Plant { link, hardLink };

// What SQLite itself does with links at a database's names: the open flag refuses one
// at the database's path; SQLite never follows one at a journal's name (the write
// fails, so the database is unusable until it goes), but writes into a hard link at
// -wal. SQLOwnFile::prepare sets all of them aside.
TEST(SQLOwnFileTest, WhatSQLiteDoesWithLinksAtADatabasesNames) {
    struct Case {
        const char* name;
        const char* journalMode;
        const char* planted;  // "" for the database's own path
        Plant plant;
        int flags;
        bool written;         // the row went in
        bool outsideChanged;  // the outside file was written
    };
    const int rwc = SQLDatabase::kOpenReadWriteCreate;
    const int own = rwc | SQLOwnFile::kOpenNoFollow;
    const Case cases[] = {
        {"link at the path, followed", "delete", "", Plant::link, rwc, true, true},
        {"link at the path, refused", "delete", "", Plant::link, own, false, false},
        {"link at -journal", "delete", "-journal", Plant::link, own, false, false},
        {"link at -wal", "wal", "-wal", Plant::link, own, false, false},
        {"link at -shm", "wal", "-shm", Plant::link, own, false, false},
        // A stale journal there is dropped (its name unlinked) before the first write.
        {"hard link at -journal", "delete", "-journal", Plant::hardLink, own, true, false},
        {"hard link at -wal", "wal", "-wal", Plant::hardLink, own, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = taviro::test::freshDir("own");
        const fs::path outsideDir = taviro::test::freshDir("outside");
        const fs::path db = dir / "user.db";
        const fs::path outside = outsideDir / "other";
        if (*c.planted) {
            makeDatabase(db, c.journalMode);
            std::ofstream(outside) << "another program's bytes";
        } else {
            makeDatabase(outside, c.journalMode);
        }
        const fs::path place = db.string() + c.planted;
        if (c.plant == Plant::link)
            fs::create_symlink(outside, place);
        else
            fs::create_hard_link(outside, place);
        const std::string before = bytesOf(outside);
        EXPECT_EQ(writeRow(db, c.flags), c.written);
        EXPECT_EQ(bytesOf(outside) != before, c.outsideChanged);
    }
}

// The programs' folders may be reached through links (a home on another disk): only a
// link at the file itself is refused, not one on the way to its folder.
TEST(SQLOwnFileTest, AFolderReachedThroughALinkIsOpened) {
    const fs::path real = taviro::test::freshDir("real");
    const fs::path linked = taviro::test::freshDir("linked") / "folder";
    fs::create_directory_symlink(real, linked);
    const fs::path outside = taviro::test::freshDir("outside") / "other.db";
    makeDatabase(outside, "delete");
    fs::create_symlink(outside, real / "linked.db");
    const std::string before = bytesOf(outside);
    const int own = SQLDatabase::kOpenReadWriteCreate | SQLOwnFile::kOpenNoFollow;
    EXPECT_TRUE(writeRow(linked / "user.db", own));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(real / "user.db")));
    EXPECT_FALSE(writeRow(linked / "linked.db", own));
    EXPECT_EQ(bytesOf(outside), before);
}

TEST(SQLOwnFileTest, PrepareSetsLinksAsideAndKeepsTheirTargetsAsTheyWere) {
    const mode_t oldMask = ::umask(022);
    struct Case {
        const char* name;
        const char* planted;  // "" for the database's own path
        enum { none, link, dangling, hardLink, regular0644, folder } what;
        std::vector<std::string> setAside;  // names set aside
        std::vector<std::string> after;     // the folder afterwards, set-aside names cut at ".unusable-"
    };
    const std::vector<Case> cases = {
        {"nothing there", "", Case::none, {}, {"user.db"}},
        {"a file an earlier version left open", "", Case::regular0644, {}, {"user.db", "user.db-journal"}},
        {"a link", "", Case::link, {"user.db"}, {"user.db", "user.db.unusable-"}},
        {"a dangling link", "", Case::dangling, {"user.db"}, {"user.db", "user.db.unusable-"}},
        {"a hard link with its journal", "", Case::hardLink, {"user.db"},
         {"user.db", "user.db.unusable-", "user.db.unusable--journal"}},
        {"a link at -wal", "-wal", Case::link, {"user.db-wal"}, {"user.db", "user.db-wal.unusable-"}},
        {"a hard link at -shm", "-shm", Case::hardLink, {"user.db-shm"}, {"user.db", "user.db-shm.unusable-"}},
        {"a folder, left for the caller", "", Case::folder, {}, {"user.db"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = taviro::test::freshDir("own");
        const fs::path outside = taviro::test::freshDir("outside") / "other";
        const fs::path place = (dir / "user.db").string() + c.planted;
        switch (c.what) {
        case Case::none: break;
        case Case::link:
        case Case::hardLink:
            std::ofstream(outside) << "another program's bytes";
            fs::permissions(outside, fs::perms(0644));
            if (c.what == Case::link)
                fs::create_symlink(outside, place);
            else
                fs::create_hard_link(outside, place);
            // The journal of the hard-linked content goes with it.
            if (c.what == Case::hardLink && !*c.planted) std::ofstream(dir / "user.db-journal") << "journal";
            break;
        case Case::dangling: fs::create_symlink(outside, place); break;
        case Case::regular0644:
            makeDatabase(dir / "user.db", "delete");
            std::ofstream(dir / "user.db-journal");
            for (const char* name : {"user.db", "user.db-journal"}) fs::permissions(dir / name, fs::perms(0644));
            break;
        case Case::folder: fs::create_directories(place); break;
        }
        const bool outsideBefore = fs::exists(outside);
        const std::string before = outsideBefore ? bytesOf(outside) : "";
        const unsigned modeBefore = modeOf(outside);

        SQLOwnFile::Options options;
        options.makePrivate = true;
        options.create = true;
        const auto prepared = SQLOwnFile::prepare(dir / "user.db", options);

        EXPECT_TRUE(prepared.refused.empty()) << prepared.refused;
        std::vector<std::string> setAside;
        for (const auto& s : prepared.setAside) {
            setAside.push_back(s.path.filename().string());
            EXPECT_EQ(s.aside.parent_path(), dir);
            EXPECT_NE(SQLOwnFile::noticeText(prepared.setAside).find(s.aside.filename().string()), std::string::npos);
        }
        EXPECT_EQ(setAside, c.setAside);
        std::vector<std::string> after;
        for (auto name : namesIn(dir)) {
            const auto cut = name.find(".unusable-");
            if (cut != std::string::npos) {
                const auto dash = name.find('-', cut + 10 + 9);  // after the date and the time
                name = name.substr(0, cut + 10) + (dash != std::string::npos ? name.substr(dash) : "");
            }
            after.push_back(name);
        }
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(fs::exists(outside), outsideBefore);
        if (outsideBefore) {
            EXPECT_EQ(bytesOf(outside), before);
            EXPECT_EQ(modeOf(outside), modeBefore) << "a hard link's other name keeps its mode";
        }
        if (c.what != Case::folder) {
            EXPECT_EQ(modeOf(dir / "user.db"), 0600u);
            if (fs::exists(dir / "user.db-journal")) {
                EXPECT_EQ(modeOf(dir / "user.db-journal"), 0600u);
            }
            EXPECT_TRUE(writeRow(dir / "user.db", SQLDatabase::kOpenReadWriteCreate | SQLOwnFile::kOpenNoFollow));
        }
    }
    ::umask(oldMask);
}

} // namespace
} // namespace sqlkit
