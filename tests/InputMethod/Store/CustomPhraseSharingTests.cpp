// custom.db while another program writes it, and custom.db damaged.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "Platform/Foundation/Log.h"
#include "StoreFixture.h"
#include "support/ChildProcess.h"

namespace taviro::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Far above the few milliseconds a lookup may wait for another program's
// lock, far below the seconds of a connection's default wait.
constexpr auto kKeyBound = std::chrono::milliseconds(100);

class CustomPhraseSharingTest : public StoreTest {
protected:
    fs::path customDb() const { return loc_.userFolder / "custom.db"; }

    // The phrases of a lookup and how long it took.
    std::pair<std::vector<std::string>, Clock::duration> timedLookup(Database& db, const std::string& code) {
        const auto start = Clock::now();
        auto found = words(db.customPhrases(code));
        return {found, Clock::now() - start};
    }

    std::string journalMode(const fs::path& file) {
        sqlkit::SQLDatabase check(file.string());
        if (!check.open()) return "";
        std::string mode;
        if (auto rs = check.executeQuery("PRAGMA journal_mode"); rs && rs->next()) {
            mode = rs->stringForColumnIndex(0).value_or("");
            rs->close();
        }
        check.close();
        return mode;
    }
};

// Another program holds custom.db in an exclusive write transaction: a key's
// lookup does not wait for it, and gives the phrases read before.
TEST_F(CustomPhraseSharingTest, AnotherProgramsWriteLockDoesNotStallALookup) {
    struct Case {
        const char* name;
        bool lockBeforeOpening;  // the store cannot put the file in WAL mode then
        std::vector<std::string> whileLockedAtOpening;
    };
    const Case cases[] = {
        {"locked after opening", false, {"心"}},
        {"locked while opening", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        writeCodeTable(customDb(), {{"xin", "心", 1}});
        ChildProcess other(STORE_CHILD, {"hold", customDb().string()});
        ASSERT_EQ(other.nextLine(), "ready");
        if (c.lockBeforeOpening) {
            ASSERT_EQ(other.ask("lock"), "locked");
        }
        auto& db = open();

        auto [found, took] = timedLookup(db, "xin");
        EXPECT_EQ(found, c.whileLockedAtOpening);
        EXPECT_LT(took, kKeyBound);
        if (c.lockBeforeOpening) {
            ASSERT_EQ(other.ask("unlock"), "unlocked");
            EXPECT_EQ(words(db.customPhrases("xin")), (std::vector<std::string>{"心", "锁住时写的"}));
        } else {
            EXPECT_EQ(journalMode(customDb()), "wal");
        }

        // Locked by the other program: the same answer, at once, many keys in a row.
        ASSERT_EQ(other.ask("lock"), "locked");
        const auto before = words(db.customPhrases("xin"));
        ASSERT_FALSE(before.empty());
        for (int key = 0; key < 5; ++key) {
            auto [again, keyTook] = timedLookup(db, "xin");
            EXPECT_EQ(again, before);
            EXPECT_LT(keyTook, kKeyBound);
        }
        ASSERT_EQ(other.ask("unlock"), "unlocked");
        // Committed: the new phrase shows.
        const auto after = words(db.customPhrases("xin"));
        EXPECT_EQ(std::count(after.begin(), after.end(), "锁住时写的"), c.lockBeforeOpening ? 2 : 1);
        other.send("quit");
        db.closeAll();
    }
}

TEST_F(CustomPhraseSharingTest, ADamagedFileIsSetAsideOnceAndTheBundlesPhrasesUsed) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> damage;
        bool setAside;        // a timestamped copy of the damaged file is left
        bool bundlePhrases;   // the bundle's phrases are used afterwards
        bool needsNoRoot;     // permissions do not bind root
    };
    const std::vector<Case> cases = {
        {"garbage bytes", [](const fs::path& f) { std::ofstream(f, std::ios::binary) << std::string(5000, '\x5A'); },
         true, true, false},
        {"garbage header", [&](const fs::path& f) { overwriteWithJunk(f, 0, 100); }, true, true, false},
        {"garbage pages", [&](const fs::path& f) { overwriteWithJunk(f, 4096, 8192); }, true, true, false},
        {"truncated", [](const fs::path& f) { fs::resize_file(f, 4096 + 100); }, true, true, false},
        {"a directory in its place",
         [](const fs::path& f) {
             fs::remove(f);
             fs::create_directory(f);
         },
         false, false, false},
        {"damaged in a folder without write permission",
         [&](const fs::path& f) {
             overwriteWithJunk(f, 4096, 8192);
             fs::permissions(f.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
         },
         false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsNoRoot && ::geteuid() == 0) continue;
        SetUp();
        writeCodeTable(loc_.resourceDir / "custom.db", {{"bd", "初始", 0}});
        std::vector<CodeRow> rows;
        for (int i = 0; i < 300; ++i) rows.push_back({"k" + std::to_string(i), std::string(60, 'x'), 0});
        rows.push_back({"xin", "心", 0});
        writeCodeTable(customDb(), rows, "CREATE INDEX CodeTable_index ON CodeTable (Code ASC, Weight ASC);\n");
        c.damage(customDb());

        auto notice = std::make_shared<RecordingNotice>();
        plat::LogCapture log;
        hooks_.wallClock = [] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 365 * 50)); };
        auto& db = fresh();
        db.setUserNotice(notice);
        db.openDatabases(Database::reloadScript());
        // Three words' worth of keys.
        for (const char* code : {"x", "xi", "xin", "k", "k1", "k12", "b", "bd", "bd"}) db.customPhrases(code);
        const auto bd = words(db.customPhrases("bd"));
        db.closeAll();
        fs::permissions(loc_.userFolder, fs::perms::owner_all, fs::perm_options::add);

        int asideCount = 0;
        for (const auto& e : fs::directory_iterator(loc_.userFolder)) {
            const std::string name = e.path().filename().string();
            const bool companion = name.ends_with("-wal") || name.ends_with("-shm") || name.ends_with("-journal");
            if (name.rfind("custom.db.corrupt-", 0) == 0 && !companion) ++asideCount;
        }
        EXPECT_EQ(asideCount, c.setAside ? 1 : 0);
        EXPECT_EQ(bd, c.bundlePhrases ? std::vector<std::string>{"初始"} : std::vector<std::string>{});
        // Told once, logged once: no line per key.
        int lines = 0;
        for (const auto& line : log.lines())
            if (line.find("custom.db") != std::string::npos) ++lines;
        EXPECT_EQ(lines, 1) << ::testing::PrintToString(log.lines());
        EXPECT_FALSE(log.contains("DB Error"));
        EXPECT_EQ(notice->count(), c.setAside || c.needsNoRoot ? 1u : 0u) << ::testing::PrintToString(notice->posts());
    }
}

} // namespace
} // namespace taviro::test
