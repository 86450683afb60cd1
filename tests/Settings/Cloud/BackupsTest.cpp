#include "CloudPageFixture.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/Cloud/BackupRestore.h"
#include "Settings/Cloud/BackupsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/DatabaseFile.h"
#include "Settings/App/AppLifecycle.h"
#include "Settings/Pages/TabThreeController.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
namespace cloud = plat::cloud;

namespace kelvane::test {
namespace {

using Dict = plat::PlistValue::Dictionary;

// One whole setup of a user: settings, tables, scheme, guide buttons, phrases, lists.
struct UserSetup {
    Dict config;
    std::string assistText, mainText, scheme, bootButtons, silence, punc, phrase;
};

UserSetup setupB() {
    return {{{"AssistPlanName", "辅码B"},
             {"BootButtonName", "BootButtons.plist"},
             {"CodeTableName", "主码B"},
             {"DisableDatabase", false},
             {"InputPlanName", "小鹤"},
             {"VerticalCandidates", true},
             {"FontSize", 18},
             {"S2T", true}},
            "阿\tab\n啊\tab\n",
            "你好\tnihao\n世界\tshijie\n",
            "<plist><dict><key>Version</key><string>2.0</string></dict></plist>",
            "<plist><dict><key>a</key><string>B</string></dict></plist>",
            "<plist><dict><key>com.b</key><string>B</string></dict></plist>",
            "<plist><dict><key>,</key><string>，B</string></dict></plist>",
            "备份词"};
}

UserSetup setupA() {
    return {{{"AssistPlanName", "辅码A"},
             {"BootButtonName", "BootButtons.plist"},
             {"CodeTableName", "主码A"},
             {"DisableDatabase", false},
             {"InputPlanName", "小鹤"},
             {"VerticalCandidates", false},
             {"FontSize", 14}},
            "哦\tob\n",
            "旧\tjiu\n",
            "<plist><dict><key>Version</key><string>old</string></dict></plist>",
            "<plist><dict><key>a</key><string>A</string></dict></plist>",
            "<plist><dict><key>com.a</key><string>A</string></dict></plist>",
            "<plist><dict><key>,</key><string>，A</string></dict></plist>",
            "旧词"};
}

class BackupsTest : public CloudPageFixture {
protected:
    void SetUp() override {
        CloudPageFixture::SetUp();
        config_ = std::make_unique<ConfigManager>(where_.perUserFolder);
    }

    // Writes a setup's files; the B-named table files get `tableTag` in front of their text.
    void write(const UserSetup& s, const std::string& namesOf = "B") {
        const fs::path& p = where_.perUserFolder;
        const fs::path& u = where_.userFolder;
        ASSERT_TRUE(plat::writePlistFile(p / "config.plist", plat::PlistValue(s.config)));
        writeFile(u / "AssistCodes" / ("辅码" + namesOf + ".txt"), s.assistText);
        writeFile(u / ("主码" + namesOf + ".txt"), s.mainText);
        writeFile(u / "KeyMaps" / "小鹤.plist", s.scheme);
        writeFile(u / "BootButtons" / "BootButtons.plist", s.bootButtons);
        writeFile(p / "silence.plist", s.silence);
        writeFile(p / "PunctuationMapping.plist", s.punc);
        fs::remove(p / "custom.db");
        exec(p / "custom.db", "CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);"
                              "INSERT INTO CodeTable VALUES ('bf', '" + s.phrase + "', 1);");
    }

    std::shared_ptr<BackupsController> page(std::shared_ptr<cloud::Container> who = nullptr) {
        auto b = BackupsController::create(who ? who : account("ann"), where_, *config_);
        b->viewDidLoad();
        b->viewDidAppear();
        EXPECT_TRUE(pump([&] { return !b->indicatorAnimating; }));
        return b;
    }
    void backUp(const std::shared_ptr<BackupsController>& b, const std::string& comment) {
        b->backup(comment);
        ASSERT_TRUE(pump([&] { return b->pbar->dismissed() || failed(b->pbar); }));
        ASSERT_FALSE(b->pbar->doneEnabled()) << b->pbar->text();
        b->queryBackups();
        ASSERT_TRUE(pump([&] { return !b->indicatorAnimating; }));
    }
    // What the sheet says of a backup the store refuses; empty when it was saved.
    std::string refusedBackup(const std::shared_ptr<BackupsController>& b, const std::string& comment) {
        b->backup(comment);
        if (!pump([&] { return b->pbar->dismissed() || failed(b->pbar); })) return "<still at work>";
        return failed(b->pbar) ? b->pbar->text() : std::string();
    }
    Rows rows(const fs::path& db) { return query(db, "SELECT Code, \"Table\" FROM CodeTable ORDER BY Code, \"Table\""); }
    Rows phrases(const fs::path& db) { return query(db, "SELECT \"Table\" FROM CodeTable ORDER BY \"Table\""); }
    // Restores `record` as the page does, off the main queue.
    BackupRestore::Outcome restoreRecord(const cloud::Record& record) {
        BackupRestore::Outcome outcome;
        bool done = false;
        plat::WorkerPool::shared().submit([&] {
            outcome = BackupRestore::restoreBackup(record, where_, *config_, [] { return BackupRestore::ImportSheet{}; });
            plat::MainQueue::shared().async([&] { done = true; });
        });
        EXPECT_TRUE(pump([&] { return done; }));
        return outcome;
    }
    // Files of the per-user folder that SQLite or a writer left beside a database.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(where_.perUserFolder)) {
            const std::string n = e.path().filename().string();
            if (n.ends_with("-wal") || n.ends_with("-shm") || n.ends_with("-journal") || plat::parseTemporaryName(n))
                out.push_back(n);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::unique_ptr<ConfigManager> config_;
};

TEST_F(BackupsTest, TheRecordCarriesTheSettingsAndTheFilesTheyName) {
    write(setupB());
    auto b = BackupsController::create(account("ann"), where_, *config_);
    auto fields = [&](Dict config) {
        EXPECT_TRUE(plat::writePlistFile(where_.perUserFolder / "config.plist", plat::PlistValue(config)));
        auto made = b->makeBackupRecord("c");
        EXPECT_TRUE(std::holds_alternative<BackupRecord>(made));
        auto keys = std::get<BackupRecord>(made).record.allKeys();
        return std::set<std::string>(keys.begin(), keys.end());
    };
    const std::set<std::string> all{"Comment",   "Config", "AssistCodeTable", "BootButton",  "CodeTable",
                                    "CustomCodeTable", "DeviceType", "SPPlan", "SilenceDict", "PunctuationMapping"};
    EXPECT_EQ(fields(setupB().config), all);
    struct Case {
        const char* name;
        const char* key;
        plat::PlistValue value;
        const char* missing;
    };
    const Case cases[] = {
        {"no assist table", "AssistPlanName", "不使用辅码", "AssistCodeTable"},
        {"assist name not text", "AssistPlanName", 3, "AssistCodeTable"},
        {"no main table", "CodeTableName", "不使用主码表", "CodeTable"},
        {"main table file missing", "CodeTableName", "没有", "CodeTable"},
        {"main table outside the folder", "CodeTableName", "../主码B", "CodeTable"},
        {"database disabled", "DisableDatabase", true, "SPPlan"},
        {"guide table missing", "BootButtonName", "Other.plist", "BootButton"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dict config = setupB().config;
        config[c.key] = c.value;
        auto expected = all;
        expected.erase(c.missing);
        EXPECT_EQ(fields(config), expected);
    }
    auto made = b->makeBackupRecord("");
    const auto& record = std::get<BackupRecord>(made).record;
    EXPECT_EQ(record.stringForKey("DeviceType"), "Linux");
    EXPECT_EQ(record.stringForKey("Comment"), "");
    EXPECT_EQ(record.recordType(), "Backups");

    writeFile(where_.perUserFolder / "config.plist", "not a plist");
    auto refused = b->makeBackupRecord("c");
    ASSERT_TRUE(std::holds_alternative<std::string>(refused));
    EXPECT_NE(std::get<std::string>(refused).find("config.plist"), std::string::npos);
    b->backup("c");
    EXPECT_TRUE(failed(b->pbar));
    EXPECT_NE(b->pbar->text().find("config.plist"), std::string::npos);
}

TEST_F(BackupsTest, ABackupRestoredPutsTheWholeSetupBackAndReleasesTheInputMethodOnce) {
    const UserSetup b = setupB();
    write(b);
    auto p = page();
    backUp(p, "周一");
    ASSERT_EQ(p->numberOfRows(), 1);
    EXPECT_EQ(p->cellText(0, "来源设备"), "Linux");
    EXPECT_EQ(p->cellText(0, "备注"), "周一");

    // Everything changes afterwards, the B-named files too.
    write(setupA(), "A");
    write(setupA(), "B");
    ASSERT_TRUE(plat::writePlistFile(where_.perUserFolder / "config.plist", plat::PlistValue(setupA().config)));
    writeFile(where_.perUserFolder / "spScheme.plist", "old scheme");
    makeMainTemplate(where_.perUserFolder / "mainCodeTable.database");
    exec(where_.perUserFolder / "mainCodeTable.database", "INSERT INTO CodeTable VALUES ('jiu', '旧', 1)");
    writeFile(where_.perUserFolder / "mainCodeTable.database-journal", "stale");
    channel_->clear();

    p->selectedRow = -1;
    EXPECT_FALSE(p->restoreQuestion());
    p->selectedRow = 0;
    ASSERT_TRUE(p->restoreQuestion());
    EXPECT_EQ(p->restoreQuestion()->informative, "如果你这么做，那么现有配置将被覆盖。\n你的备注：周一");
    p->restoreConfirmed();
    ASSERT_TRUE(pump([&] { return p->restoresFinished == 1; }));
    EXPECT_TRUE(p->pbar->dismissed());
    ASSERT_TRUE(p->importSheet);
    EXPECT_TRUE(p->importSheet->dismissed());

    const fs::path& u = where_.userFolder;
    const fs::path& per = where_.perUserFolder;
    EXPECT_EQ(plat::readPlistFile(per / "config.plist"), plat::PlistValue(b.config));
    EXPECT_EQ(readFile(u / "AssistCodes" / "辅码B.txt"), b.assistText);
    EXPECT_EQ(readFile(u / "主码B.txt"), b.mainText);
    EXPECT_EQ(readFile(u / "KeyMaps" / "小鹤.plist"), b.scheme);
    EXPECT_EQ(readFile(per / "spScheme.plist"), b.scheme);
    EXPECT_EQ(readFile(u / "BootButtons" / "BootButtons.plist"), b.bootButtons);
    EXPECT_EQ(readFile(per / "silence.plist"), b.silence);
    EXPECT_EQ(readFile(per / "PunctuationMapping.plist"), b.punc);
    EXPECT_EQ(query(per / "custom.db", "SELECT \"Table\" FROM CodeTable"), (Rows{{"备份词"}}));
    EXPECT_EQ(rows(per / "assist.database"), (Rows{{"ab", "阿啊"}}));
    EXPECT_EQ(rows(per / "mainCodeTable.database"), (Rows{{"nihao", "你好"}, {"shijie", "世界"}}));
    EXPECT_FALSE(fs::exists(per / "mainCodeTable.database-journal"));
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needReloadPlan",
                                                  "needsReloadDBLink", "configNeedsReload", "okToUse=true",
                                                  "switchCandidatesPanel=竖排候选栏", "setFontSize=18"}));
    EXPECT_EQ(config_->configData.at("CodeTableName").asString(), "主码B");
}

// All or nothing: a table that cannot be built keeps the whole setup as it was.
TEST_F(BackupsTest, AFailedImportKeepsTheWholeSetupShowsWhyAndStillReleasesOnce) {
    UserSetup b = setupB();
    b.mainText = "只有一行\tyi\n"; // too short to be a table: the import refuses it
    write(b);
    auto p = page();
    backUp(p, "short");
    const UserSetup a = setupA();
    write(a, "B");
    ASSERT_TRUE(plat::writePlistFile(where_.perUserFolder / "config.plist", plat::PlistValue(a.config)));
    makeMainTemplate(where_.perUserFolder / "mainCodeTable.database");
    exec(where_.perUserFolder / "mainCodeTable.database", "INSERT INTO CodeTable VALUES ('jiu', '旧', 1)");
    makeAssistTemplate(where_.perUserFolder / "assist.database");
    exec(where_.perUserFolder / "assist.database", "INSERT INTO CodeTable VALUES ('ob', '哦', 0)");
    channel_->clear();
    p->selectedRow = 0;
    p->restoreConfirmed();
    ASSERT_TRUE(pump([&] { return p->restoresFinished == 1; }));
    const fs::path& per = where_.perUserFolder;
    EXPECT_EQ(rows(per / "mainCodeTable.database"), (Rows{{"jiu", "旧"}}));
    EXPECT_EQ(rows(per / "assist.database"), (Rows{{"ob", "哦"}}));
    EXPECT_EQ(plat::readPlistFile(per / "config.plist"), plat::PlistValue(a.config));
    EXPECT_EQ(readFile(per / "PunctuationMapping.plist"), a.punc);
    EXPECT_EQ(query(per / "custom.db", "SELECT \"Table\" FROM CodeTable"), (Rows{{"旧词"}}));
    EXPECT_EQ(readFile(where_.userFolder / "主码B.txt"), a.mainText);
    for (const auto& e : fs::directory_iterator(per))
        EXPECT_FALSE(plat::parseTemporaryName(e.path().filename().string())) << e.path();
    ASSERT_TRUE(p->importSheet);
    EXPECT_TRUE(failed(p->importSheet));
    EXPECT_EQ(p->importSheet->text(), "请确定编码为 uft-8 不要有 BOM!");
    EXPECT_TRUE(failed(p->pbar));
    EXPECT_EQ(p->pbar->text(), "未能恢复此备份，现有配置没有改变。");
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needsReloadDBLink",
                                                  "configNeedsReload", "okToUse=true",
                                                  "switchCandidatesPanel=横排候选栏", "setFontSize=14"}));
}

// A name that leads out of its folder refuses the whole backup: the settings stay with
// the tables they name.
TEST_F(BackupsTest, RestoreRefusesNamesThatLeaveTheirFoldersAndReleasesOnceWithoutConfig) {
    cloud::Record bare("Backups", cloud::RecordID::random());
    restoreRecord(bare);
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needsReloadDBLink",
                                                  "configNeedsReload", "okToUse=true"}));

    write(setupA(), "A");
    const std::string settingsBefore = readFile(where_.perUserFolder / "config.plist");
    const fs::path payload = base_ / "payload.txt";
    writeFile(payload, "x\ty\n");
    const std::pair<const char*, const char*> names[] = {{"CodeTableName", "../../outside/evil"},
                                                         {"AssistPlanName", "/tmp/abs"},
                                                         {"BootButtonName", "../up.plist"},
                                                         {"InputPlanName", "../../小鹤"}};
    for (const auto& [key, name] : names) {
        SCOPED_TRACE(key);
        Dict settings = setupB().config;
        settings[key] = name;
        const fs::path evilConfig = base_ / "evil.plist";
        ASSERT_TRUE(plat::writePlistFile(evilConfig, plat::PlistValue(settings)));
        cloud::Record evil("Backups", cloud::RecordID::random());
        evil.setValue("Config", cloud::Asset(evilConfig));
        evil.setValue("CodeTable", cloud::Asset(payload));
        evil.setValue("AssistCodeTable", cloud::Asset(payload));
        evil.setValue("BootButton", cloud::Asset(payload));
        const auto outcome = restoreRecord(evil);
        EXPECT_EQ(outcome.refusedNames, std::vector<std::string>{name});
        EXPECT_FALSE(outcome.committed);
        EXPECT_EQ(outcome.importsStarted, 0);
        EXPECT_EQ(readFile(where_.perUserFolder / "config.plist"), settingsBefore);
        EXPECT_EQ(readFile(where_.perUserFolder / "silence.plist"), setupA().silence);
        EXPECT_FALSE(fs::exists(base_.parent_path() / "outside" / "evil.txt"));
        EXPECT_FALSE(fs::exists(where_.userFolder.parent_path() / "up.plist"));
        EXPECT_TRUE(leftovers().empty());
    }

}

TEST_F(BackupsTest, ListIsNewestFirstAndDeletionAsksFirst) {
    write(setupB());
    auto p = page();
    backUp(p, "first");
    backUp(p, "second");
    ASSERT_EQ(p->numberOfRows(), 2);
    EXPECT_EQ(p->cellText(0, "备注"), "second");
    EXPECT_EQ(p->cellText(0, "其他"), "");

    // Another account lists nothing of these.
    EXPECT_EQ(page(account("bob"))->numberOfRows(), 0);

    p->selectedRow = -1;
    EXPECT_FALSE(p->deleteQuestion());
    p->selectedRow = 1;
    ASSERT_TRUE(p->deleteQuestion());
    EXPECT_EQ(p->deleteQuestion()->message, "从存储中删除此备份");
    p->deleteConfirmed();
    ASSERT_TRUE(pump([&] { return p->numberOfRows() == 1 && !p->indicatorAnimating; }));
    EXPECT_EQ(p->cellText(0, "备注"), "second");

    std::tm when{};
    when.tm_year = 2019 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_isdst = -1;
    p->records[0].creationDate = std::chrono::system_clock::from_time_t(std::mktime(&when));
    EXPECT_EQ(p->cellText(0, "日期"), "2019年03月07日 09:05");
}

// The input method keeps custom.db open in WAL mode, so a phrase just added may still be
// only in custom.db-wal: the backup must hold it all the same.
TEST_F(BackupsTest, ABackupHoldsThePhrasesAddedWhileTheInputMethodHoldsTheDatabase) {
    write(setupB());
    const fs::path custom = where_.perUserFolder / "custom.db";
    taviro::test::ChildProcess inputMethod(DATABASE_HOLDER, {custom.string()});
    ASSERT_TRUE(inputMethod.waitFor("ready\n"));
    exec(custom, "INSERT INTO CodeTable VALUES ('xj', '新加词', 1)");
    std::error_code ec;
    ASSERT_GT(fs::file_size(fs::path(custom.string() + "-wal"), ec), 0u) << "the phrase is only in the -wal";

    auto p = page();
    backUp(p, "含新词");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"custom.db-shm", "custom.db-wal"}))
        << "only the live database's own companions; the copy is gone";
    inputMethod.closeInput();
    inputMethod.wait(std::chrono::seconds(10));

    write(setupA(), "A");
    ASSERT_EQ(phrases(custom), (Rows{{"旧词"}}));
    p->selectedRow = 0;
    p->restoreConfirmed();
    ASSERT_TRUE(pump([&] { return p->restoresFinished == 1; }));
    EXPECT_TRUE(p->pbar->dismissed()) << p->pbar->text();
    EXPECT_TRUE(leftovers().empty()) << leftovers().front();
    // In rollback-journal mode: reading it leaves nothing beside it either.
    const std::string header = readFile(custom).substr(18, 2);
    EXPECT_EQ(header, std::string("\1\1"));
    EXPECT_EQ(phrases(custom), (Rows{{"备份词"}, {"新加词"}}));
    EXPECT_TRUE(leftovers().empty());
}

// Backups made before held custom.db as a file, in WAL mode: restoring one leaves
// nothing beside the folder, and a file that is no database keeps the current phrases.
TEST_F(BackupsTest, ARestoredPhraseDatabaseLeavesNothingBesideIt) {
    write(setupA(), "A");
    const fs::path asFile = base_ / "wal-custom.db";
    exec(asFile, "PRAGMA journal_mode=WAL; CREATE TABLE CodeTable (Code TEXT, \"Table\" TEXT, Weight REAL);"
                 "INSERT INTO CodeTable VALUES ('bf', '备份词', 1);");
    ASSERT_EQ(readFile(asFile).substr(18, 2), std::string("\2\2"));
    const fs::path garbage = base_ / "garbage.db";
    writeFile(garbage, std::string("SQLite format 3\0", 16) + std::string(4096, 'x'));
    const fs::path config = base_ / "config.plist";
    ASSERT_TRUE(plat::writePlistFile(config, plat::PlistValue(Dict{{"CodeTableName", "不使用主码表"}})));
    const struct {
        const char* name;
        fs::path file;
        Rows expected;
    } cases[] = {{"a database in WAL mode", asFile, {{"备份词"}}}, {"not a database", garbage, {{"旧词"}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(setupA(), "A");
        cloud::Record r("Backups", cloud::RecordID::random());
        r.setValue("Config", cloud::Asset(config));
        r.setValue("CustomCodeTable", cloud::Asset(c.file));
        EXPECT_TRUE(restoreRecord(r).committed);
        EXPECT_TRUE(leftovers().empty()) << leftovers().front();
        EXPECT_EQ(phrases(where_.perUserFolder / "custom.db"), c.expected);
        EXPECT_TRUE(leftovers().empty());
    }
}

// Where the store is and who uses it describe this machine: a restore keeps them.
TEST_F(BackupsTest, ARestoreKeepsThisMachinesStoreAndAccount) {
    UserSetup b = setupB();
    b.config[kCloudStoreFolderKey] = "/srv/elsewhere";
    b.config[kCloudAccountNameKey] = "someone-else";
    write(b);
    auto p = page();
    backUp(p, "machine");
    struct Case {
        const char* name;
        std::optional<std::string> folder, account;
    };
    for (const Case& c : {Case{"both set here", (base_ / "mine").string(), std::string("me")},
                          Case{"none set here", std::nullopt, std::nullopt}}) {
        SCOPED_TRACE(c.name);
        Dict now = setupA().config;
        if (c.folder) now[kCloudStoreFolderKey] = *c.folder;
        if (c.account) now[kCloudAccountNameKey] = *c.account;
        ASSERT_TRUE(plat::writePlistFile(where_.perUserFolder / "config.plist", plat::PlistValue(now)));
        const int before = p->restoresFinished;
        p->selectedRow = 0;
        p->restoreConfirmed();
        ASSERT_TRUE(pump([&] { return p->restoresFinished == before + 1; }));
        const auto restored = plat::readPlistFile(where_.perUserFolder / "config.plist");
        ASSERT_TRUE(restored && restored->isDictionary());
        const Dict& got = *restored->asDictionary();
        EXPECT_EQ(got.at("CodeTableName").asString(), "主码B");
        auto value = [&](const char* key) -> std::optional<std::string> {
            const auto it = got.find(key);
            return it == got.end() ? std::nullopt : std::optional<std::string>(it->second.asString());
        };
        EXPECT_EQ(value(kCloudStoreFolderKey), c.folder);
        EXPECT_EQ(value(kCloudAccountNameKey), c.account);
    }
}

TEST(ChineseNumeralTest, CodeLengths) {
    const std::pair<int, const char*> cases[] = {{3, "三"}, {4, "四"}, {10, "十"}, {11, "四"}, {0, "四"}, {-2, "四"}};
    for (const auto& [n, text] : cases) EXPECT_EQ(chineseNumeral(n), text) << n;
    EXPECT_EQ(punctuationMappingFileName(), "PunctuationMapping.plist");
}

// A restore whose process is killed in the middle of rebuilding a table database.
constexpr const char* kChildEnv = "KELVANE_RESTORE_CHILD_BASE";

// Stops the import at its first bad-line message, says so, and waits to be killed.
class StallingSheet : public ProgressSink {
public:
    explicit StallingSheet(fs::path marker) : marker_(std::move(marker)) {}
    void setDoubleValue(double) override {}
    void setMaxValue(double) override {}
    void incrementBy(double) override {}
    void setStringValue(const std::string& text) override {
        if (text.rfind("第", 0) == 0) {
            plat::writeFileAtomically(marker_, "stalled");
            std::this_thread::sleep_for(std::chrono::seconds(60));
        }
    }

private:
    fs::path marker_;
};

// With "run" in kChildModeEnv the child restores without stalling and writes "ready" just
// before it starts.
constexpr const char* kChildModeEnv = "KELVANE_RESTORE_CHILD_MODE";

class QuietSheet : public ProgressSink {
public:
    void setDoubleValue(double) override {}
    void setMaxValue(double) override {}
    void incrementBy(double) override {}
    void setStringValue(const std::string&) override {}
};

TEST_F(BackupsTest, RestoreChildProcess) {
    const char* base = std::getenv(kChildEnv);
    if (!base) GTEST_SKIP() << "runs only as the child of the restore kill tests";
    const char* mode = std::getenv(kChildModeEnv);
    const bool stall = !mode || std::string(mode) != "run";
    const fs::path root = base;
    where_ = {root / "TaviroMac", root / "塔维输入法", root / "resources"};
    store_ = root / "store";
    config_ = std::make_unique<ConfigManager>(where_.perUserFolder);
    auto p = BackupsController::create(account("ann"), where_, *config_);
    p->presentImportSheet = [stall, marker = root / "stalled"]() -> BackupRestore::ImportSheet {
        if (stall) return {std::make_shared<StallingSheet>(marker), [](bool) {}};
        return {std::make_shared<QuietSheet>(), [](bool) {}};
    };
    p->viewDidLoad();
    p->viewDidAppear();
    ASSERT_TRUE(pump([&] { return !p->indicatorAnimating; }));
    ASSERT_EQ(p->numberOfRows(), 1);
    p->selectedRow = 0;
    if (!stall) plat::writeFileAtomically(root / "ready", "ready");
    p->restoreConfirmed();
    driver_->runUntil([&] { return p->restoresFinished > 0; }, std::chrono::seconds(60));
}

// Starts this test program as the restoring child over base_.
pid_t spawnRestoreChild(const fs::path& base, const std::string& mode) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::string> envs{std::string(kChildEnv) + "=" + base.string(),
                                  std::string(kChildModeEnv) + "=" + mode};
    for (char** e = environ; *e; ++e) envs.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string arg0 = self, arg1 = "--gtest_filter=BackupsTest.RestoreChildProcess";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    return pid;
}

TEST_F(BackupsTest, RestoreKilledHalfwayLeavesOldFilesIntact) {
    // The backup: a main table long enough to be in the middle of its import when a bad
    // line stops it.
    UserSetup b = setupB();
    b.mainText.clear();
    for (int i = 0; i < 3000; ++i) b.mainText += "词" + std::to_string(i) + "\tc" + std::to_string(i) + "\n";
    b.mainText += "bad line without a tab\n";
    for (int i = 0; i < 100; ++i) b.mainText += "尾" + std::to_string(i) + "\tw" + std::to_string(i) + "\n";
    write(b);
    backUp(page(), "big");

    const UserSetup a = setupA();
    write(a, "B");
    ASSERT_TRUE(plat::writePlistFile(where_.perUserFolder / "config.plist", plat::PlistValue(a.config)));
    makeMainTemplate(where_.perUserFolder / "mainCodeTable.database");
    exec(where_.perUserFolder / "mainCodeTable.database", "INSERT INTO CodeTable VALUES ('jiu', '旧', 1)");

    const pid_t pid = spawnRestoreChild(base_, "stall");
    ASSERT_GT(pid, 0);

    bool stalled = false;
    for (int i = 0; i < 3000 && !stalled; ++i) {
        stalled = fs::exists(base_ / "stalled");
        if (!stalled) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(stalled) << "the child never reached the main table's import";
    EXPECT_TRUE(WIFSIGNALED(status));

    // Every file is whole: the old database, each text either old or new.
    const fs::path& per = where_.perUserFolder;
    const fs::path& u = where_.userFolder;
    EXPECT_TRUE(DatabaseFile::check(per / "mainCodeTable.database"));
    EXPECT_EQ(rows(per / "mainCodeTable.database"), (Rows{{"jiu", "旧"}}));
    const auto config = plat::readPlistFile(per / "config.plist");
    EXPECT_TRUE(config == plat::PlistValue(a.config) || config == plat::PlistValue(b.config));
    struct Whole {
        fs::path path;
        std::string before, after;
    };
    const Whole files[] = {{u / "主码B.txt", a.mainText, b.mainText},
                           {u / "KeyMaps" / "小鹤.plist", a.scheme, b.scheme},
                           {per / "silence.plist", a.silence, b.silence}};
    for (const auto& f : files) {
        const std::string now = readFile(f.path);
        EXPECT_TRUE(now == f.before || now == f.after) << f.path;
    }
    EXPECT_TRUE(DatabaseFile::check(per / "custom.db"));
}

// What the user sees of a setup: the settings, the tables the input method reads, the
// phrases, the punctuation and the other files a restore writes.
struct Seen {
    std::optional<plat::PlistValue> config;
    Rows mainTable, assistTable, phrases;
    std::string punc, silence, scheme, activeScheme, mainText;
    bool operator==(const Seen&) const = default;
};

// A restore killed at any point is, after the next start of either program, either not
// there at all or there whole: never settings that name the backup's tables over the old
// databases, never old phrases or punctuation beside new settings. Four users' folders
// take kill points side by side.
TEST_F(BackupsTest, RestoreKilledAtAnyPointLeavesTheOldSetupOrTheBackupsWhole) {
    UserSetup b = setupB();
    for (int i = 0; i < 2000; ++i) b.mainText += "词" + std::to_string(i) + "\tc" + std::to_string(i) + "\n";
    write(b);
    backUp(page(), "kill");

    constexpr int kSlots = 4, kRounds = 5;
    const UserSetup a = setupA();
    const TableLocations mine = where_;
    auto slotBase = [&](int slot) { return base_ / ("slot" + std::to_string(slot)); };
    auto slotWhere = [&](int slot) -> TableLocations {
        const fs::path root = slotBase(slot);
        return {root / "TaviroMac", root / "塔维输入法", root / "resources"};
    };
    for (int slot = 0; slot < kSlots; ++slot) {
        fs::create_directories(slotBase(slot));
        fs::copy(store_, slotBase(slot) / "store", fs::copy_options::recursive);
        fs::copy(mine.resourceFolder, slotWhere(slot).resourceFolder, fs::copy_options::recursive);
    }
    auto oldSetup = [&](int slot) {
        where_ = slotWhere(slot);
        const fs::path& per = where_.perUserFolder;
        fs::remove_all(per);
        fs::remove_all(where_.userFolder);
        fs::create_directories(per);
        write(a, "B");
        writeFile(per / "spScheme.plist", a.scheme);
        makeMainTemplate(per / "mainCodeTable.database");
        exec(per / "mainCodeTable.database", "INSERT INTO CodeTable VALUES ('jiu', '旧', 1)");
        makeAssistTemplate(per / "assist.database");
        exec(per / "assist.database", "INSERT INTO CodeTable VALUES ('ob', '哦', 0)");
        fs::remove(slotBase(slot) / "ready");
        where_ = mine;
    };
    auto seen = [&](int slot) {
        const TableLocations w = slotWhere(slot);
        const fs::path& per = w.perUserFolder;
        Seen s;
        s.config = plat::readPlistFile(per / "config.plist");
        if (DatabaseFile::check(per / "mainCodeTable.database")) s.mainTable = rows(per / "mainCodeTable.database");
        if (DatabaseFile::check(per / "assist.database")) s.assistTable = rows(per / "assist.database");
        if (DatabaseFile::check(per / "custom.db")) s.phrases = query(per / "custom.db", "SELECT \"Table\" FROM CodeTable");
        s.punc = readFile(per / "PunctuationMapping.plist");
        s.silence = readFile(per / "silence.plist");
        s.scheme = readFile(w.userFolder / "KeyMaps" / "小鹤.plist");
        s.activeScheme = readFile(per / "spScheme.plist");
        s.mainText = readFile(w.userFolder / "主码B.txt");
        return s;
    };
    // Temporaries a restore left; those of the journal's own atomic write may stay a while.
    auto leftovers = [&](int slot) {
        const TableLocations w = slotWhere(slot);
        std::vector<std::string> left;
        for (const fs::path& f : {w.perUserFolder, w.userFolder, w.userFolder / "AssistCodes",
                                  w.userFolder / "BootButtons", w.userFolder / "KeyMaps"})
            for (const auto& e : fs::directory_iterator(f)) {
                const auto t = plat::parseTemporaryName(e.path().filename().string());
                if (t && t->target != ".replace-journal.plist") left.push_back(e.path().string());
            }
        if (fs::exists(plat::ReplaceJournal::journalPath(w.perUserFolder))) left.push_back("the journal");
        return left;
    };
    auto waitForReady = [&](int slot) {
        for (int i = 0; i < 30000; ++i) {
            if (fs::exists(slotBase(slot) / "ready")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };

    // One restore run to its end: how long it takes to put the backup in place, and what
    // it leaves.
    oldSetup(0);
    const Seen before = seen(0);
    pid_t pid = spawnRestoreChild(slotBase(0), "run");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForReady(0));
    const auto started = std::chrono::steady_clock::now();
    const fs::path config0 = slotWhere(0).perUserFolder / "config.plist";
    while (plat::readPlistFile(config0) != plat::PlistValue(b.config) &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    const auto took = std::chrono::steady_clock::now() - started;
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Seen after = seen(0);
    ASSERT_EQ(after.config, plat::PlistValue(b.config));
    ASSERT_EQ(after.phrases, (Rows{{"备份词"}}));
    ASSERT_NE(before, after);
    EXPECT_TRUE(leftovers(0).empty());

    // Kill points spread over a little more than that time, each followed by a start of
    // one of the programs.
    int old = 0, whole = 0;
    for (int round = 0; round < kRounds; ++round) {
        pid_t pids[kSlots];
        std::chrono::steady_clock::time_point ready[kSlots];
        for (int slot = 0; slot < kSlots; ++slot) {
            oldSetup(slot);
            pids[slot] = spawnRestoreChild(slotBase(slot), "run");
            ASSERT_GT(pids[slot], 0);
        }
        for (int slot = 0; slot < kSlots; ++slot) {
            ASSERT_TRUE(waitForReady(slot));
            ready[slot] = std::chrono::steady_clock::now();
        }
        for (int slot = 0; slot < kSlots; ++slot) {
            const int point = slot * kRounds + round;
            std::this_thread::sleep_until(ready[slot] + took * 1.3 * (point + 0.5) / (kSlots * kRounds));
            ::kill(pids[slot], SIGKILL);
        }
        for (int slot = 0; slot < kSlots; ++slot) {
            const int point = slot * kRounds + round;
            SCOPED_TRACE("kill point " + std::to_string(point));
            ASSERT_EQ(::waitpid(pids[slot], &status, 0), pids[slot]);
            channel_->clear();
            const TableLocations w = slotWhere(slot);
            const auto recovery =
                point % 2 == 0 ? prepareStart(w) : plat::recoverAtStart(w.perUserFolder, w.userFolder);
            const Seen now = seen(slot);
            EXPECT_TRUE(now == before || now == after);
            (now == before ? old : whole) += 1;
            EXPECT_EQ(leftovers(slot), std::vector<std::string>{});
            if (recovery == plat::ReplaceJournal::Recovery::Finished && point % 2 == 0) {
                EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needReloadPlan",
                                                              "needsReloadDBLink", "configNeedsReload",
                                                              "okToUse=true"}));
            }
        }
    }
    std::cout << "kill points that left the old setup: " << old << ", the backup's: " << whole << "; the backup was in place after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
}

// A small file system mounted at a folder for as long as it lives.
struct TmpfsMount {
    TmpfsMount(const fs::path& at, const char* options) : at(at) {
        fs::create_directories(at);
        mounted = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
    }
    ~TmpfsMount() {
        if (mounted) ::umount2(at.c_str(), MNT_DETACH);
    }
    fs::path at;
    bool mounted = false;
};

// A backup into a store whose disk is full says so in the sheet, leaves nothing half
// written in the store and keeps the backups it held.
TEST_F(BackupsTest, ABackupOnAFullDiskSaysSoAndKeepsWhatTheStoreHeld) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    write(setupB());
    TmpfsMount small(store_, "size=256k");
    if (!small.mounted) GTEST_SKIP() << "cannot mount";
    backUp(page(), "still room");
    // Phrases enough that their copy does not fit.
    const fs::path custom = where_.perUserFolder / "custom.db";
    exec(custom, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                 "INSERT INTO CodeTable SELECT 'c' || i, hex(randomblob(16)), 1 FROM n");
    const auto before = snapshotOf(store_);

    auto p = page();
    ASSERT_EQ(p->numberOfRows(), 1);
    const std::string told = refusedBackup(p, "no room");
    EXPECT_TRUE(told.starts_with("备份失败：")) << told;
    for (const char* words : {"磁盘已满", "这次没有保存", "没有改动"})
        EXPECT_NE(told.find(words), std::string::npos) << words << " in " << told;
    EXPECT_EQ(snapshotOf(store_), before);
    EXPECT_EQ(page()->numberOfRows(), 1);
    EXPECT_TRUE(leftovers().empty()) << leftovers().front();
}

// A backup into a store on a file system mounted read-only says what the folder needs,
// as the other refusals do, and the backups it holds are still listed.
TEST_F(BackupsTest, ABackupIntoAReadOnlyStoreSaysWhatTheFolderNeeds) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
    write(setupB());
    TmpfsMount store(store_, "size=1m");
    if (!store.mounted) GTEST_SKIP() << "cannot mount";
    backUp(page(), "before");
    ASSERT_EQ(::mount(nullptr, store_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const auto before = snapshotOf(store_);
    auto p = page();
    EXPECT_EQ(p->numberOfRows(), 1);
    const std::string told = refusedBackup(p, "read-only");
    for (const char* words : {"只能读取", "没有改动", "可读写方式重新挂载", "CloudStoreFolder"})
        EXPECT_NE(told.find(words), std::string::npos) << words << " in " << told;
    EXPECT_EQ(snapshotOf(store_), before);
}

// An earlier store that is a link, relative or absolute: its backups are still listed
// from the new place and new ones are saved beside them.
TEST_F(BackupsTest, AnEarlierStoreThatIsALinkKeepsItsBackupsWhereverItPoints) {
    write(setupB());
    const fs::path per = plat::Paths::perUserFolder(), place = plat::Paths::libraryFolder() / "TaviroMacCloudStore";
    for (const bool relative : {true, false}) {
        SCOPED_TRACE(relative ? "relative link" : "absolute link");
        fs::remove_all(place);
        fs::remove(per / "CloudStore");
        store_ = taviro::test::freshDir("linked-store");
        backUp(page(), "before the move");
        fs::create_directories(per);
        fs::create_directory_symlink(relative ? store_.lexically_relative(per) : store_, per / "CloudStore");
        ASSERT_TRUE(fs::is_directory(per / "CloudStore"));

        const auto settings = CloudStoreSettings::from({});
        EXPECT_EQ(settings.folder, place);
        EXPECT_FALSE(fs::exists(fs::symlink_status(per / "CloudStore")));
        auto moved = page(makeCloudContainer({settings.folder, "ann", {}}));
        ASSERT_EQ(moved->numberOfRows(), 1);
        EXPECT_EQ(moved->cellText(0, "备注"), "before the move");
        backUp(moved, "after the move");
        EXPECT_EQ(moved->numberOfRows(), 2);
        EXPECT_EQ(page()->numberOfRows(), 2) << "both in the folder the link named";
    }
    fs::remove(place);
}

} // namespace
} // namespace kelvane::test

namespace kelvane::test {
namespace {

// Backups outlive the program: the store's default place lies outside the per-user folder
// that uninstalling removes, and a store still at the earlier place is kept too.
TEST_F(BackupsTest, BackupsSurviveAnUninstall) {
    const auto command = TabThreeController::uninstallCommand();
    ASSERT_TRUE(command);
    const std::string script = (*command)[2], user = (*command)[4];
    auto uninstall = [&](const fs::path& perUser) {
        const fs::path prefix = base_ / "prefix";
        fs::create_directories(prefix / "bin");
        return std::system(("/bin/sh '" + script + "' '" + prefix.string() + "' " + user + " '" + perUser.string() +
                            "' '" + where_.userFolder.string() + "' >/dev/null 2>&1")
                               .c_str());
    };
    auto backups = [&](const fs::path& store) {
        store_ = store;
        return page()->numberOfRows();
    };
    write(setupB());
    const fs::path kept = base_ / "TaviroMacCloudStore";
    struct Case {
        const char* name;
        bool storeAlreadyOutside;  // a store at the place the earlier one would move to
    };
    for (const Case c : {Case{"a store left at the earlier place", false}, Case{"both places in use", true}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(kept);
        fs::create_directories(where_.perUserFolder);
        write(setupB());
        if (c.storeAlreadyOutside) {
            store_ = kept;
            backUp(page(), "outside");
        }
        store_ = where_.perUserFolder / "CloudStore";
        backUp(page(), "earlier");
        ASSERT_EQ(uninstall(where_.perUserFolder), 0);
        EXPECT_FALSE(fs::exists(where_.perUserFolder));
        EXPECT_FALSE(fs::exists(where_.userFolder));
        EXPECT_EQ(backups(kept), 1);
        if (c.storeAlreadyOutside) {
            std::vector<fs::path> dated;
            for (const auto& e : fs::directory_iterator(base_))
                if (e.path().filename().string().rfind("TaviroMacCloudStore-", 0) == 0) dated.push_back(e.path());
            ASSERT_EQ(dated.size(), 1u);
            EXPECT_EQ(backups(dated[0]), 1);
            fs::remove_all(dated[0]);
        }
    }
}

// A store the user chose inside one of the folders that uninstalling removes, or that is
// one of them, is moved out first; one elsewhere stays; either way the uninstall says
// where the backups are. "Inside" is decided on real paths: a store written with doubled
// or trailing slashes, or reached through a linked Documents folder while the user folder
// is given the other way, is the same folder. The user's other files go, and no link is
// followed out of the removed folders.
// Runs the uninstall script (`option` "--dry-run" or ""); its exit status (-1 when it did
// not exit) and what it wrote.
std::pair<int, std::string> runUninstallScript(const std::string& script, const std::string& option,
                                               const std::vector<std::string>& args) {
    std::string line = "/bin/sh '" + script + "' " + option;
    for (const auto& a : args) line += " '" + a + "'";
    FILE* out = ::popen((line + " 2>&1").c_str(), "r");
    std::string said;
    char buf[512];
    while (out && std::fgets(buf, sizeof buf, out)) said += buf;
    const int status = out ? ::pclose(out) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

TEST_F(BackupsTest, AChosenStoreSurvivesAnUninstallAndItIsToldWhere) {
    const auto command = TabThreeController::uninstallCommand();
    ASSERT_TRUE(command);
    ASSERT_EQ(command->size(), 8u);
    const std::string script = (*command)[2], user = (*command)[4];
    const fs::path kept = base_ / "TaviroMacCloudStore";
    const fs::path per = where_.perUserFolder, mine = where_.userFolder;
    // Documents, a link to the folder that holds the user folder.
    const fs::path linkedMine = base_ / "Documents" / mine.filename();
    fs::create_directory_symlink(base_, base_ / "Documents");
    // What a link in a removed folder points to.
    writeFile(base_ / "victim" / "theirs.txt", "theirs");
    struct Case {
        const char* name;
        std::string store;  // "CloudStoreFolder" as typed
        fs::path userArg;   // the user folder as Kelvane names it
        fs::path afterwards;
    };
    const std::string b = base_.string();
    const Case cases[] = {
        {"in the user folder", (mine / "备份").string(), mine, kept},
        {"in the per-user folder", (per / "我的备份").string(), mine, kept},
        {"the user folder itself", mine.string(), mine, kept},
        {"the per-user folder itself", per.string(), mine, kept},
        {"the user folder, doubled and trailing slashes", b + "//塔维输入法//", mine, kept},
        {"the per-user folder, a trailing slash", per.string() + "/", mine, kept},
        {"in the user folder, a doubled slash", b + "/塔维输入法//备份", mine, kept},
        {"in the per-user folder, doubled and trailing slashes", b + "//TaviroMac//我的备份/", mine, kept},
        {"by its real path, Documents linked", (mine / "备份").string(), linkedMine, kept},
        {"through the linked Documents", (linkedMine / "备份").string(), mine, kept},
        {"the user folder through the linked Documents", linkedMine.string(), mine, kept},
        {"elsewhere", b + "/别处", mine, base_ / "别处"},
        {"elsewhere, trailing slash", b + "/别处/", mine, base_ / "别处"},
    };
    const fs::path prefix = base_ / "prefix";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(kept);
        fs::create_directories(per);
        fs::create_directories(mine);
        write(setupB());
        fs::create_directory_symlink(base_ / "victim", per / "link");
        fs::create_directory_symlink(base_ / "victim", mine / "link");
        store_ = c.store;
        backUp(page(), "chosen");
        fs::create_directories(prefix / "bin");
        auto run = [&](const char* option) {
            return runUninstallScript(script, option,
                                      {prefix.string(), user, per.string(), c.userArg.string(), c.store});
        };
        // The dry run says the same and changes nothing.
        const auto [dryStatus, foretold] = run("--dry-run");
        EXPECT_EQ(dryStatus, 0) << foretold;
        EXPECT_TRUE(fs::exists(per / "config.plist"));
        EXPECT_FALSE(fs::exists(kept) && c.afterwards == kept);
        const auto [status, said] = run("");
        EXPECT_EQ(status, 0) << said;
        EXPECT_EQ(said, foretold);
        EXPECT_NE(said.find(c.afterwards.string() + "\n"), std::string::npos) << said;
        EXPECT_FALSE(fs::exists(per));
        EXPECT_FALSE(fs::exists(mine));
        EXPECT_EQ(readFile(base_ / "victim" / "theirs.txt"), "theirs");
        store_ = c.afterwards;
        EXPECT_EQ(page()->numberOfRows(), 1);
        fs::remove_all(base_ / "别处");
    }
}

// A store folder set with a control character (a pasted line feed at its end, above all)
// is not used by Kelvane, which says so and uses the default place, and goes to the
// uninstall as set, where the script refuses it: the folder it names may hold backups an
// earlier version saved, inside a folder the uninstall removes.
TEST_F(BackupsTest, AStoreFolderWithAControlCharacterIsRefusedAndTheUninstallRemovesNothing) {
    const auto command = TabThreeController::uninstallCommand();
    ASSERT_TRUE(command);
    const std::string script = (*command)[2], user = (*command)[4];
    const fs::path per = where_.perUserFolder, mine = where_.userFolder, prefix = base_ / "prefix";
    const std::string m = mine.string();
    struct Case {
        const char* name;
        std::string store;
    };
    const Case cases[] = {
        {"a line feed at the end", m + "/备份\n"},
        {"two line feeds at the end", m + "/备份\n\n"},
        {"a line feed inside", m + "/备\n份"},
        {"a carriage return at the end", m + "/备份\r"},
        {"a tab", m + "/备\t份"},
        {"an escape", m + "/\x1b[2J备份"},
        {"a delete", m + "/备份\x7f"},
        {"a C1 next line", m + "/备份\xc2\x85"},
        {"the user folder with a line feed", m + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Kelvane: the default place, and the store says why.
        const auto settings = CloudStoreSettings::from({{kCloudStoreFolderKey, c.store}});
        EXPECT_EQ(settings.folder, CloudStoreSettings::defaultFolder());
        ASSERT_TRUE(settings.refusedFolder);
        EXPECT_EQ(*settings.refusedFolder, c.store);
        EXPECT_NE(makeCloudContainer(settings)->storeNotice().find("CloudStoreFolder"), std::string::npos);
        // The uninstall is given the folder as set.
        fs::create_directories(plat::Paths::perUserFolder());
        ASSERT_TRUE(plat::writePlistFile(plat::Paths::perUserFolder() / "config.plist",
                                         plat::PlistValue(Dict{{kCloudStoreFolderKey, c.store}})));
        const auto set = TabThreeController::uninstallCommand();
        ASSERT_TRUE(set);
        EXPECT_EQ(set->back(), c.store);
        fs::remove(plat::Paths::perUserFolder() / "config.plist");

        // Backups an earlier version saved there, and their folder without the character.
        const fs::path planted = fs::path(c.store) / "iCloud.com.quorvel.taviro" / "Private" / "r.plist";
        writeFile(planted, "kept");
        writeFile(mine / "备份" / "other", "also kept");
        writeFile(prefix / "bin" / "TaviroMac2", "program");
        writeFile(per / "config.plist", "settings");
        for (const char* option : {"--dry-run", ""}) {
            SCOPED_TRACE(option);
            const auto [status, said] =
                runUninstallScript(script, option, {prefix.string(), user, per.string(), m, c.store});
            EXPECT_EQ(status, 2) << said;
            EXPECT_NE(said.find("control character"), std::string::npos) << said;
            EXPECT_EQ(said.find("backups"), std::string::npos) << said;
            EXPECT_EQ(readFile(planted), "kept");
            EXPECT_EQ(readFile(mine / "备份" / "other"), "also kept");
            EXPECT_EQ(readFile(per / "config.plist"), "settings");
            EXPECT_EQ(readFile(prefix / "bin" / "TaviroMac2"), "program");
        }
        fs::remove_all(fs::path(c.store));
        fs::remove_all(mine / "备份");
    }
}

// A store outside the removed folders whose container is a link into one of them: the
// records are where the link leads, and they are kept as any store inside is.
TEST_F(BackupsTest, AStoreWhoseContainerIsALinkIntoARemovedFolderIsKept) {
    const auto command = TabThreeController::uninstallCommand();
    ASSERT_TRUE(command);
    const std::string script = (*command)[2], user = (*command)[4];
    const fs::path kept = base_ / "TaviroMacCloudStore", prefix = base_ / "prefix", elsewhere = base_ / "别处";
    const fs::path per = where_.perUserFolder, mine = where_.userFolder;
    struct Case {
        const char* name;
        fs::path realStore;  // where the backups are saved
        bool kept;           // moved out, or stays where it is
    };
    const Case cases[] = {
        {"into the user folder", mine / "云", true},
        {"into the per-user folder", per / "云", true},
        {"into a folder that stays", base_ / "留下", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(kept);
        fs::remove_all(elsewhere);
        fs::create_directories(per);
        fs::create_directories(mine);
        write(setupB());
        store_ = c.realStore;
        backUp(page(), "linked");
        fs::create_directories(elsewhere);
        fs::create_directory_symlink(c.realStore / "iCloud.com.quorvel.taviro", elsewhere / "iCloud.com.quorvel.taviro");
        const std::vector<std::string> args{prefix.string(), user, per.string(), mine.string(), elsewhere.string()};
        const auto [dryStatus, foretold] = runUninstallScript(script, "--dry-run", args);
        EXPECT_EQ(dryStatus, 0) << foretold;
        EXPECT_TRUE(fs::exists(per / "config.plist"));
        EXPECT_FALSE(fs::exists(kept));
        const auto [status, said] = runUninstallScript(script, "", args);
        EXPECT_EQ(status, 0) << said;
        EXPECT_EQ(said, foretold);
        EXPECT_EQ(said, (c.kept ? "backups kept in " + kept.string() : "backups stay in " + elsewhere.string()) + "\n");
        EXPECT_FALSE(fs::exists(per));
        EXPECT_FALSE(fs::exists(mine));
        store_ = c.kept ? kept : elsewhere;
        EXPECT_EQ(page()->numberOfRows(), c.kept ? 1 : 0);
        if (!c.kept) {
            store_ = c.realStore;
            EXPECT_EQ(page()->numberOfRows(), 1);
        }
        fs::remove_all(c.realStore);
    }
}

TEST(BackupStorePlaceTest, TheDefaultPlaceIsOutsideThePerUserFolderAndTheEarlierStoreMovesThere) {
    const fs::path per = plat::Paths::perUserFolder(), place = plat::Paths::libraryFolder() / "TaviroMacCloudStore";
    fs::remove_all(place);
    writeFile(per / "CloudStore" / "Backups" / "r.record", "kept");
    // A store configured elsewhere moves nothing.
    EXPECT_EQ(CloudStoreSettings::from({{kCloudStoreFolderKey, "/srv/shared"}}).folder, "/srv/shared");
    EXPECT_TRUE(fs::exists(per / "CloudStore"));
    EXPECT_EQ(CloudStoreSettings::from({}).folder, place);
    EXPECT_TRUE(place.lexically_relative(per).native().starts_with(".."));
    EXPECT_EQ(readFile(place / "Backups" / "r.record"), "kept");
    EXPECT_FALSE(fs::exists(per / "CloudStore"));
    // Once moved, a later earlier-place folder is left where it is.
    writeFile(per / "CloudStore" / "other", "x");
    EXPECT_EQ(CloudStoreSettings::from({}).folder, place);
    EXPECT_TRUE(fs::exists(per / "CloudStore" / "other"));
    fs::remove_all(place);
    fs::remove_all(per / "CloudStore");
}

// A store at the earlier place that is the user's link to a folder elsewhere moves as
// the link, so its backups stay listed.
TEST(BackupStorePlaceTest, AnEarlierStoreThatIsALinkMovesAsTheLink) {
    const fs::path per = plat::Paths::perUserFolder(), place = plat::Paths::libraryFolder() / "TaviroMacCloudStore";
    fs::remove_all(place);
    const fs::path elsewhere = taviro::test::freshDir("elsewhere");
    writeFile(elsewhere / "Backups" / "r.record", "kept");
    fs::create_directories(per);
    fs::create_directory_symlink(elsewhere, per / "CloudStore");
    EXPECT_EQ(CloudStoreSettings::from({}).folder, place);
    EXPECT_TRUE(fs::is_symlink(place));
    EXPECT_EQ(readFile(place / "Backups" / "r.record"), "kept");
    EXPECT_FALSE(fs::exists(fs::symlink_status(per / "CloudStore")));
    fs::remove(place);
}

} // namespace
} // namespace kelvane::test
