// The databases both programs open in the per-user folder (custom.db, keys.db,
// extended.db), with a link or a hard link planted in their place: whichever program
// comes first sets it aside and tells, neither ever writes the file it leads to, and
// both go on with one fresh file of the folder's own.
#include "Settings/DatabaseFile.h"
#include "Settings/Functions/ExtendedController/ExtendedDatabasetManager.h"
#include "Settings/Functions/ModelManager.h"
#include "tests/InputMethod/Store/StoreFixture.h"
#include "support/FileState.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>


namespace {

namespace fs = std::filesystem;

enum class Plant { link, dangling, hardLink };
enum class First { kelvane, inputMethod };

class OwnDatabaseCrossCheckTest : public taviro::test::StoreTest {
protected:
    // What Kelvane does with the file: open, write, read.
    void kelvaneUses(const std::string& name) {
        if (name == "extended.db") {
            kelvane::ExtendedDatabasetManager extended(loc_.userFolder / "extended.db", base_ / "Extended");
            extended.loadCells();
            return;
        }
        kelvane::ModelManager model(loc_.userFolder);
        kelvane::CodeTable row;
        row.code = "dz";
        row.table = "地址";
        row.weight = 1;
        model.insertCodeTable(row);
        model.loadCodeTable();
        model.totalCount(kelvane::KeyLoggerType::key);
    }

    // What the input method does: open, type, reload, type.
    void inputMethodUses(taviro::Database& db) {
        const auto type = [&] {
            db.keyLog(std::chrono::system_clock::now(), 3, true);
            db.customPhrases("dz");
            db.extendedLookup({{"zhang"}, {"san"}});
        };
        type();
        db.reloadDBLink().wait();
        type();
    }

    std::vector<fs::path> setAside(const std::string& name) { return taviro::test::setAsideIn(loc_.userFolder, name); }
};

TEST_F(OwnDatabaseCrossCheckTest, NeitherProgramWritesThroughALinkInADatabasesPlace) {
    const mode_t oldMask = ::umask(022);
    const char* const kinds[] = {"link", "dangling link", "hard link"};
    for (const std::string name : {"custom.db", "keys.db", "extended.db"}) {
        for (const Plant plant : {Plant::link, Plant::dangling, Plant::hardLink}) {
            for (const First first : {First::kelvane, First::inputMethod}) {
                const std::string what = name + " as a " + kinds[static_cast<int>(plant)] + ", " +
                                         (first == First::kelvane ? "Kelvane" : "the input method") + " first";
                SCOPED_TRACE(what);
                fs::remove_all(loc_.userFolder);
                fs::create_directories(loc_.userFolder);
                kelvane::DatabaseFile::takeSetAsideMessage();
                // Another program's database beside its own journal, open to others.
                const fs::path outside = taviro::test::freshDir("outside") / "other.db";
                if (plant != Plant::dangling) {
                    taviro::test::execSql(outside, "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);");
                    fs::permissions(outside, fs::perms(0644));
                }
                if (plant == Plant::hardLink)
                    fs::create_hard_link(outside, loc_.userFolder / name);
                else
                    fs::create_symlink(outside, loc_.userFolder / name);
                const taviro::test::FileState before = taviro::test::stateOf(outside);

                auto notice = std::make_shared<taviro::test::RecordingNotice>();
                auto& db = fresh();
                db.setUserNotice(notice);
                if (first == First::kelvane) kelvaneUses(name);
                db.openDatabases(taviro::Database::reloadScript());
                inputMethodUses(db);
                kelvaneUses(name);
                kelvaneUses(name);
                inputMethodUses(db);
                db.closeAll();

                EXPECT_EQ(taviro::test::stateOf(outside), before) << "the outside file or its folder changed";
                EXPECT_EQ(setAside(name).size(), 1u);
                // Told once, by the program that set it aside.
                const std::string kelvaneTold = kelvane::DatabaseFile::takeSetAsideMessage();
                EXPECT_EQ(notice->count() + (kelvaneTold.empty() ? 0u : 1u), 1u);
                if (first == First::kelvane) {
                    EXPECT_NE(kelvaneTold.find(name), std::string::npos) << kelvaneTold;
                }
                // Kelvane wrote a fresh file; the user's phrases and counts are theirs alone.
                struct stat st {};
                ASSERT_EQ(::lstat((loc_.userFolder / name).c_str(), &st), 0);
                EXPECT_TRUE(S_ISREG(st.st_mode));
                EXPECT_EQ(st.st_nlink, 1u);
                if (name != "extended.db") {
                    for (const auto& file : {name, name + "-wal", name + "-shm"}) {
                        if (!fs::exists(loc_.userFolder / file)) continue;
                        EXPECT_EQ(static_cast<unsigned>(fs::status(loc_.userFolder / file).permissions() & fs::perms::all),
                                  0600u)
                            << file;
                    }
                }
            }
        }
    }
    ::umask(oldMask);
}

} // namespace
