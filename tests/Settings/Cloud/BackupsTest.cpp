#include "CloudPageFixture.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"
#include "Settings/Cloud/BackupRestore.h"
#include "Settings/Cloud/BackupsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/DatabaseFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
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
    Rows rows(const fs::path& db) { return query(db, "SELECT Code, \"Table\" FROM CodeTable ORDER BY Code, \"Table\""); }

    std::unique_ptr<ConfigManager> config_;
};

TEST_F(BackupsTest, TheRecordCarriesTheSettingsAndTheFilesTheyName) {
    write(setupB());
    auto b = BackupsController::create(account("ann"), where_, *config_);
    auto fields = [&](Dict config) {
        EXPECT_TRUE(plat::writePlistFile(where_.perUserFolder / "config.plist", plat::PlistValue(config)));
        auto made = b->makeBackupRecord("c");
        EXPECT_TRUE(std::holds_alternative<cloud::Record>(made));
        auto keys = std::get<cloud::Record>(made).allKeys();
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
    const auto& record = std::get<cloud::Record>(made);
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

TEST_F(BackupsTest, AFailedImportKeepsItsOldDatabaseShowsWhyAndStillReleasesOnce) {
    UserSetup b = setupB();
    b.mainText = "只有一行\tyi\n"; // too short to be a table: the import refuses it
    write(b);
    auto p = page();
    backUp(p, "short");
    makeMainTemplate(where_.perUserFolder / "mainCodeTable.database");
    exec(where_.perUserFolder / "mainCodeTable.database", "INSERT INTO CodeTable VALUES ('jiu', '旧', 1)");
    channel_->clear();
    p->selectedRow = 0;
    p->restoreConfirmed();
    ASSERT_TRUE(pump([&] { return p->restoresFinished == 1; }));
    EXPECT_EQ(rows(where_.perUserFolder / "mainCodeTable.database"), (Rows{{"jiu", "旧"}}));
    EXPECT_EQ(rows(where_.perUserFolder / "assist.database"), (Rows{{"ab", "阿啊"}}));
    ASSERT_TRUE(p->importSheet);
    EXPECT_TRUE(failed(p->importSheet));
    EXPECT_EQ(p->importSheet->text(), "请确定编码为 uft-8 不要有 BOM!");
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needReloadPlan",
                                                  "needsReloadDBLink", "configNeedsReload", "okToUse=true",
                                                  "switchCandidatesPanel=竖排候选栏", "setFontSize=18"}));
}

TEST_F(BackupsTest, RestoreRefusesNamesThatLeaveTheirFoldersAndReleasesOnceWithoutConfig) {
    auto restore = [&](const cloud::Record& record) {
        BackupRestore::Outcome outcome;
        bool done = false;
        plat::WorkerPool::shared().submit([&] {
            outcome = BackupRestore::restoreBackup(record, where_, *config_, [] { return BackupRestore::ImportSheet{}; });
            plat::MainQueue::shared().async([&] { done = true; });
        });
        EXPECT_TRUE(pump([&] { return done; }));
        return outcome;
    };
    const fs::path payload = base_ / "payload.txt";
    writeFile(payload, "x\ty\n");
    const fs::path evilConfig = base_ / "evil.plist";
    ASSERT_TRUE(plat::writePlistFile(evilConfig, plat::PlistValue(Dict{{"CodeTableName", "../../escaped"},
                                                                       {"AssistPlanName", "/tmp/abs"},
                                                                       {"BootButtonName", "../up.plist"}})));
    cloud::Record evil("Backups", cloud::RecordID::random());
    evil.setValue("Config", cloud::Asset(evilConfig));
    evil.setValue("CodeTable", cloud::Asset(payload));
    evil.setValue("AssistCodeTable", cloud::Asset(payload));
    evil.setValue("BootButton", cloud::Asset(payload));
    const auto outcome = restore(evil);
    EXPECT_EQ(outcome.refusedNames.size(), 3u);
    EXPECT_EQ(outcome.importsStarted, 0);
    EXPECT_FALSE(fs::exists(base_.parent_path() / "escaped.txt"));
    EXPECT_FALSE(fs::exists(where_.userFolder.parent_path() / "up.plist"));

    channel_->clear();
    cloud::Record bare("Backups", cloud::RecordID::random());
    restore(bare);
    EXPECT_EQ(posted(), (std::vector<std::string>{"okToUse=false", "closeDatabase", "needsReloadDBLink",
                                                  "configNeedsReload", "okToUse=true"}));
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

TEST_F(BackupsTest, RestoreChildProcess) {
    const char* base = std::getenv(kChildEnv);
    if (!base) GTEST_SKIP() << "runs only as the child of RestoreKilledHalfwayLeavesOldFilesIntact";
    const fs::path root = base;
    where_ = {root / "TaviroMac", root / "塔维输入法", root / "resources"};
    store_ = root / "store";
    auto p = BackupsController::create(account("ann"), where_, *config_);
    p->presentImportSheet = [marker = root / "stalled"] {
        return BackupRestore::ImportSheet{std::make_shared<StallingSheet>(marker), [](bool) {}};
    };
    p->viewDidLoad();
    p->viewDidAppear();
    ASSERT_TRUE(pump([&] { return !p->indicatorAnimating; }));
    ASSERT_EQ(p->numberOfRows(), 1);
    p->selectedRow = 0;
    p->restoreConfirmed();
    driver_->runUntil([&] { return p->restoresFinished > 0; }, std::chrono::seconds(60));
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

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string filter = "--gtest_filter=BackupsTest.RestoreChildProcess";
    const std::string env = std::string(kChildEnv) + "=" + base_.string();
    std::vector<std::string> envs{env};
    for (char** e = environ; *e; ++e) envs.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string arg0 = self, arg1 = filter;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);

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

} // namespace
} // namespace kelvane::test
