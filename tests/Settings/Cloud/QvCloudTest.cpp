#include "CloudPageFixture.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "Settings/Cloud/QvCloudController.h"
#include "Settings/Cloud/UploadController.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>

#include <thread>

#include "support/ChildProcess.h"

namespace fs = std::filesystem;
namespace cloud = plat::cloud;

namespace kelvane::test {
namespace {

TEST(CodeTableTypeTest, RawValuesAreTheRecordTypes) {
    const char* raws[] = {"MainCodeTables", "AssistCodeTables", "MapRev", "KeyboardMaps", "BootButtons",
                          "ExtendedTables"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rawValue(static_cast<CodeTableType>(i)), raws[i]);
        EXPECT_EQ(codeTableTypeFromRawValue(raws[i]), static_cast<CodeTableType>(i));
    }
    for (const char* other : {"maincodetables", "MainCodeTables ", "", "Backups"})
        EXPECT_FALSE(codeTableTypeFromRawValue(other)) << other;
}

TEST(QvRecordTest, ModelsOnlyRecordsWithTheRequiredFields) {
    auto make = [](auto edit) {
        cloud::Record r("MainCodeTables", cloud::RecordID::random());
        r.setValue("Name", std::string("n"));
        r.setValue("Description", std::string("d"));
        r.setValue("UploadUserName", std::string("u"));
        r.setValue("DownloadTimes", std::int64_t{4});
        edit(r);
        return QvRecord::make(r);
    };
    EXPECT_TRUE(make([](cloud::Record&) {}));
    EXPECT_FALSE(make([](cloud::Record& r) { r.removeValue("Name"); }));
    EXPECT_FALSE(make([](cloud::Record& r) { r.setValue("DownloadTimes", std::string("4")); }));
    EXPECT_FALSE(make([](cloud::Record& r) { r.setValue("UploadUserName", std::int64_t{1}); }));
    EXPECT_EQ(make([](cloud::Record&) {})->rowCount, -1);
    EXPECT_EQ(make([](cloud::Record& r) { r.setValue("RowCount", std::string("3")); })->rowCount, -1);
    EXPECT_EQ(make([](cloud::Record& r) { r.setValue("RowCount", std::int64_t{0}); })->rowCount, 0);

    auto model = make([](cloud::Record& r) { r.creatorUserRecordID = cloud::RecordID{"__defaultOwner__"}; });
    EXPECT_TRUE(model->isMyRecord);
    model->isDeleted = true;
    cloud::Record without("MainCodeTables", model->recordId);
    EXPECT_FALSE(model->update(without));
    EXPECT_EQ(model->name, "n");
    EXPECT_TRUE(make([](cloud::Record&) {}) && !make([](cloud::Record&) {})->isMyRecord);
    isModerator().store(true);
    EXPECT_TRUE(make([](cloud::Record&) {})->isMyRecord);
    isModerator().store(false);
}

TEST(QvRecordTest, DownloadedNamesBecomeOneSafeFileInTheKindsFolder) {
    const fs::path user = taviro::test::freshDir("user");
    const fs::path downloaded = taviro::test::freshDir("dl") / "f";
    ASSERT_TRUE(plat::writeFileAtomically(downloaded, "bytes"));
    struct Case {
        CodeTableType kind;
        std::string name, nick, expected;
    };
    const Case cases[] = {
        {CodeTableType::map, "Alpha", "beta", "KeyMaps/Alpha-beta.plist"},
        {CodeTableType::rev, "Alpha", "beta", "KeyMaps/Alpha-beta_rev.plist"},
        {CodeTableType::main, "Alpha", "beta", "Alpha-beta.txt"},
        {CodeTableType::assist, "../../x", "y", "AssistCodes/____x-y.txt"},
        {CodeTableType::bootButton, "a/b", "c\nd", "BootButtons/a_b-c_d.plist"},
        {CodeTableType::extended, ".hidden", "u", "Extended/_hidden-u.txt"},
        {CodeTableType::main, std::string(100, 'a') + "五", std::string(100, 'b'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QvRecord r;
        r.name = c.name;
        r.nickName = c.nick;
        const auto placed = placeDownloadedFile(downloaded, c.kind, r, user);
        ASSERT_TRUE(placed);
        EXPECT_EQ(placed->string().rfind(user.string() + "/", 0), 0u);
        if (!c.expected.empty()) {
            EXPECT_EQ(*placed, user / c.expected);
        }
        EXPECT_LE(placed->filename().string().size(), 200u);
        EXPECT_EQ(plat::readWholeFile(*placed), "bytes");
    }
}

TEST(UploadControllerTest, LinesCountAsTheTextSplitsThem) {
    const fs::path dir = taviro::test::freshDir("lines");
    struct Case {
        const char* name;
        std::string bytes;
        std::int64_t lines;
    };
    const Case cases[] = {{"final newline", "a\nb\nc\n", 3}, {"empty", "", 0}, {"crlf and blank", "a\r\n\r\nb", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(plat::writeFileAtomically(dir / c.name, c.bytes));
        EXPECT_EQ(countTextFileLines(dir / c.name), c.lines);
    }
    EXPECT_EQ(countTextFileLines(dir / "absent"), 0);
    EXPECT_EQ(countTextFileLines(dir), 0);
}

class QvCloudTest : public CloudPageFixture {
protected:
    std::shared_ptr<QvCloudController> browse(const std::shared_ptr<cloud::Container>& who, int segment = 0) {
        auto b = QvCloudController::create(who, where_.userFolder, moderators_);
        b->viewDidLoad();
        b->viewDidAppear();
        if (segment != 0) b->changeClass(segment);
        EXPECT_TRUE(pump([&] { return !b->loading; }));
        return b;
    }
    void refresh(const std::shared_ptr<QvCloudController>& b) {
        b->queryRecords();
        EXPECT_TRUE(pump([&] { return !b->loading; }));
    }
    // Runs the sheet's upload or save and waits until it closed or shows a failure.
    void send(const std::shared_ptr<UploadController>& sheet) {
        sheet->doUpload();
        EXPECT_TRUE(pump([&] { return sheet->closed || failed(sheet->pbar) || sheet->alert; }));
    }
    std::shared_ptr<UploadController> share(const std::shared_ptr<QvCloudController>& b, const fs::path& file,
                                            const std::string& name, const std::string& nick = "nick") {
        auto sheet = b->uploadTap();
        sheet->viewDidLoad();
        sheet->selectFile(file);
        sheet->name = name;
        sheet->nickname = nick;
        sheet->des = "about " + name;
        send(sheet);
        return sheet;
    }
    std::shared_ptr<UploadController> edit(const std::shared_ptr<QvCloudController>& b) {
        auto sheet = b->editTap();
        EXPECT_TRUE(sheet);
        if (!sheet) return sheet;
        sheet->viewDidLoad();
        EXPECT_TRUE(pump([&] { return sheet->record.has_value() || failed(sheet->pbar); }));
        return sheet;
    }
    fs::path file(const std::string& name, const std::string& bytes) {
        const fs::path p = base_ / "picked" / name;
        fs::create_directories(p.parent_path());
        EXPECT_TRUE(plat::writeFileAtomically(p, bytes));
        return p;
    }
    void download(const std::shared_ptr<QvCloudController>& b, int row) {
        b->selectionChanged(row);
        b->lastPlacedFile.clear();
        b->downloadTap();
        EXPECT_TRUE(pump([&] { return (b->pbar && b->pbar->dismissed()) || failed(b->pbar); }));
    }
};

TEST_F(QvCloudTest, EachKindIsSharedListedByDownloadsAndPlacedForAnotherAccount) {
    struct Case {
        int segment;
        CodeTableType kind;
        const char* placed; // of the table named "B" by "ann"
        bool counted;
    };
    const Case cases[] = {{0, CodeTableType::main, "B-ann.txt", true},
                          {1, CodeTableType::assist, "AssistCodes/B-ann.txt", true},
                          {2, CodeTableType::map, "KeyMaps/B-ann.plist", false},
                          {3, CodeTableType::bootButton, "BootButtons/B-ann.plist", false},
                          {4, CodeTableType::extended, "Extended/B-ann.txt", true}};
    auto ann = account("ann"), bob = account("bob");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.kind)));
        auto mine = browse(ann, c.segment);
        EXPECT_EQ(mine->codeTableType, c.kind);
        ASSERT_TRUE(share(mine, file("a", "1\n2\n3\n"), "A", "ann")->closed);
        ASSERT_TRUE(share(mine, file("b", "B bytes\n"), "B", "ann")->closed);

        // Another account sees both, downloads B twice, and the list puts B first.
        auto theirs = browse(bob, c.segment);
        ASSERT_EQ(theirs->numberOfRows(), 2);
        const int rowB = theirs->cellText(0) == "B" ? 0 : 1;
        EXPECT_TRUE(theirs->editButtonHidden);
        download(theirs, rowB);
        EXPECT_EQ(theirs->lastPlacedFile, (where_.userFolder / c.placed).string());
        EXPECT_EQ(plat::readWholeFile(where_.userFolder / c.placed), "B bytes\n");
        download(theirs, rowB);
        // The counter is saved after the file was placed.
        for (int i = 0; i < 500 && !(theirs->numberOfRows() == 2 && theirs->records[0]->downLoadNumber == 2); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            refresh(theirs);
        }
        ASSERT_EQ(theirs->records[0]->downLoadNumber, 2);
        EXPECT_EQ(theirs->cellText(0), "B");
        EXPECT_EQ(theirs->selectedRow, 0);
        EXPECT_EQ(theirs->codeTableNameText, "B");
        EXPECT_EQ(theirs->codeTableDesText, "about B");
        EXPECT_EQ(theirs->uploaderNameText, "ann");
        theirs->selectionChanged(1);
        EXPECT_EQ(theirs->codeTableUpdateTimeText, c.counted ? "表大小 3 行" : "");
        theirs->selectionChanged(7); // no such row: the details stay
        EXPECT_EQ(theirs->codeTableNameText, "A");
    }
}

// Names in `folder`.
std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

// A database in WAL mode is shared with the rows still only in its -wal while another
// program holds it open, as a database that needs no -wal; sharing it leaves nothing
// beside it that was not there, held or not.
TEST_F(QvCloudTest, ASharedDatabaseGoesWithWhatItsWalHolds) {
    for (const bool held : {true, false}) {
        SCOPED_TRACE(held ? "held by another program" : "closed, in WAL mode");
        const fs::path db = base_ / (held ? "held" : "closed") / "词库.database";
        fs::create_directories(db.parent_path());
        exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE words (word TEXT); INSERT INTO words VALUES ('一');");
        std::optional<taviro::test::ChildProcess> holder;
        if (held) {
            holder.emplace(DATABASE_HOLDER, std::vector<std::string>{db.string()});
            ASSERT_TRUE(holder->waitFor("ready\n"));
        }
        exec(db, "INSERT INTO words VALUES ('二');");
        const auto beside = namesIn(db.parent_path());
        EXPECT_EQ(beside.size(), held ? 3u : 1u);

        store_ = base_ / (held ? "store-held" : "store-closed");
        auto ann = account("ann"), bob = account("bob");
        ASSERT_TRUE(share(browse(ann, 4), db, "DB", "ann")->closed);
        EXPECT_EQ(namesIn(db.parent_path()), beside);
        auto theirs = browse(bob, 4);
        ASSERT_EQ(theirs->numberOfRows(), 1);
        download(theirs, 0);
        const fs::path placed = theirs->lastPlacedFile;
        ASSERT_FALSE(placed.empty());
        EXPECT_EQ(plat::readWholeFile(placed).value_or("").substr(18, 2), std::string("\1\1"));
        EXPECT_EQ(query(placed, "SELECT word FROM words ORDER BY word"), (Rows{{"一"}, {"二"}}));
        fs::remove(placed);
        // The copy made for the upload is gone.
        for (const auto& e : fs::directory_iterator(plat::Paths::perUserFolder()))
            EXPECT_FALSE(plat::parseTemporaryName(e.path().filename().string())) << e.path();
    }
}

// Kelvane killed while it shares a database leaves its copy in the per-user folder; the
// next start removes that copy and nothing else.
TEST_F(QvCloudTest, ACopyLeftByAShareKilledHalfwayGoesAtTheNextStart) {
    const fs::path db = file("词库.database", "");
    fs::remove(db);
    exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE words (word TEXT); INSERT INTO words VALUES ('一');");
    const fs::path per = where_.perUserFolder;
    taviro::test::ChildProcess sharing(SHARE_COPY_CHILD, {db.string(), per.string()});
    ASSERT_TRUE(sharing.waitFor("copied "));
    sharing.killNow();
    sharing.wait();
    std::vector<fs::path> copies;
    for (const auto& e : fs::directory_iterator(per))
        if (plat::parseTemporaryName(e.path().filename().string())) copies.push_back(e.path());
    ASSERT_EQ(copies.size(), 1u);
    const auto ago = [](const fs::path& p) {
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::minutes(10));
    };
    ago(copies[0]);
    // The user's and another account's files stay, and a copy another share is making.
    for (const char* name : {"mytable.db", ".mytable.db~taviro-tmp~abcdef1", ".sharedTable.db~taviro-tmp~young12",
                             ".sharedTable.db.tmp.abcdef", "custom.db"})
        writeFile(per / name, "mine");
    ago(per / ".mytable.db~taviro-tmp~abcdef1");
    if (::geteuid() == 0) {
        writeFile(per / ".sharedTable.db~taviro-tmp~theirs1", "theirs");
        ASSERT_EQ(::chown((per / ".sharedTable.db~taviro-tmp~theirs1").c_str(), 65534, 65534), 0);
        ago(per / ".sharedTable.db~taviro-tmp~theirs1");
    }
    const auto before = namesIn(per);
    const auto userBefore = namesIn(db.parent_path());

    plat::recoverAtStart(per, where_.userFolder);
    auto expected = before;
    expected.erase(copies[0].filename().string());
    EXPECT_EQ(namesIn(per), expected);
    EXPECT_EQ(namesIn(db.parent_path()), userBefore);
}

// A refusal of the shared store says in the sheet what the folder needs and what was
// kept, not only which call failed.
TEST_F(QvCloudTest, RefusalsOfTheSharedStoreSayWhatTheFolderNeedsAndWhatWasKept) {
    constexpr uid_t kOwner = 65534, kBob = 65533;
    constexpr gid_t kGroup = 65532;
    struct Case {
        const char* name;
        bool asAnotherAccount;
        std::function<void(const fs::path& store)> arrange;  // the store after ann shared one table
        std::vector<std::string> told;
    };
    auto groupFolder = [](const fs::path& p) {
        fs::create_directories(p);
        ASSERT_EQ(::chown(p.c_str(), 0, kGroup), 0);
        ASSERT_EQ(::chmod(p.c_str(), 02775), 0);
    };
    const Case cases[] = {
        {"a data file with other hard links", false,
         [](const fs::path& store) {
             const fs::path assets = store / kCloudContainerIdentifier / "Public" / "Assets";
             const fs::path asset = fs::directory_iterator(fs::directory_iterator(assets)->path())->path();
             const fs::path outside = taviro::test::freshDir("outside") / "secret.txt";
             writeFile(outside, "secret");
             fs::remove(asset);
             fs::create_hard_link(outside, asset);
         },
         {"另有硬链接", "请此条目的上传者重新保存", "没有改动"}},
        {"a lock an earlier version made private", true,
         [&](const fs::path& store) {
             const fs::path db = store / kCloudContainerIdentifier / "Public";
             for (const fs::path& p : {store, store / kCloudContainerIdentifier, db, db / "Records",
                                       db / "Records" / "MainCodeTables", db / "Assets"})
                 groupFolder(p);
             writeFile(db / ".lock", "");
             ASSERT_EQ(::chown((db / ".lock").c_str(), kOwner, kGroup), 0);
             ASSERT_EQ(::chmod((db / ".lock").c_str(), 0600), 0);
         },
         {"锁文件", "保存一次", "chmod g+rw", "没有保存", "没有改动"}},
        {"a folder not set up for a group", true, [](const fs::path&) {},
         {"不能写入文件夹", "共同所在的组", "set-group-id", "chmod 2775", "umask 002", "没有改动"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.asAnotherAccount && ::geteuid() != 0) continue;
        char top[] = "/tmp/taviro-refusals-XXXXXX";
        ASSERT_TRUE(::mkdtemp(top));
        ASSERT_EQ(::chmod(top, 0755), 0);
        store_ = fs::path(top) / "store";
        const fs::path picked = fs::path(top) / "码表.txt";
        writeFile(picked, "a\tb\n");
        ASSERT_EQ(::chmod(picked.c_str(), 0644), 0);
        ASSERT_TRUE(share(browse(account("ann")), picked, "T", "ann")->closed);
        c.arrange(store_);
        const auto before = snapshotOf(store_);

        plat::LogCapture log;
        std::string told;
        if (c.asAnotherAccount) {
            AsAccount bob(kBob, kGroup);
            ASSERT_TRUE(bob.ok());
            auto sheet = share(browse(account("bob")), picked, "U", "bob");
            ASSERT_TRUE(failed(sheet->pbar));
            told = sheet->pbar->text();
        } else {
            auto theirs = browse(account("bob"));
            ASSERT_EQ(theirs->numberOfRows(), 1);
            download(theirs, 0);
            ASSERT_TRUE(failed(theirs->pbar));
            told = theirs->pbar->text();
            EXPECT_EQ(told.find("条目不存在"), std::string::npos) << told;
        }
        for (const auto& words : c.told) EXPECT_NE(told.find(words), std::string::npos) << words << " in " << told;
        // A refused save is no record skipped.
        if (c.asAnotherAccount) EXPECT_FALSE(log.contains("skipped a record"));
        EXPECT_EQ(snapshotOf(store_), before) << "the store keeps what it held";
        fs::remove_all(top);
    }
}

TEST_F(QvCloudTest, ChangingTheKindClearsTheCurrentRecord) {
    auto b = browse(account("ann"));
    share(b, file("t", "x\n"), "T");
    refresh(b);
    ASSERT_TRUE(b->currentRecord);
    b->changeClass(2);
    EXPECT_FALSE(b->currentRecord);
    EXPECT_TRUE(b->downloadButtonHidden);
    b->downloadTap();
    EXPECT_FALSE(b->pbar);
    ASSERT_TRUE(pump([&] { return !b->loading; }));
    EXPECT_EQ(b->numberOfRows(), 0);
    EXPECT_FALSE(b->currentRecord);
}

TEST_F(QvCloudTest, OwnersAndModeratorsEditAndDeleteOthersAreRefused) {
    auto ann = account("ann");
    auto mine = browse(ann);
    share(mine, file("t.txt", "1\n2\n"), "T", "ann");
    refresh(mine);
    ASSERT_FALSE(mine->editButtonHidden);

    // Someone else: no edit button, and the store refuses a save all the same.
    auto theirs = browse(account("bob"));
    EXPECT_TRUE(theirs->editButtonHidden);
    auto refused = edit(theirs);
    refused->name = "taken over";
    send(refused);
    EXPECT_FALSE(refused->closed);
    EXPECT_TRUE(failed(refused->pbar));
    EXPECT_NE(refused->pbar->text().find("上传失败"), std::string::npos);
    EXPECT_EQ(theirs->currentRecord->name, "T");
    auto refusedDelete = edit(theirs);
    refusedDelete->deleteConfirmed();
    ASSERT_TRUE(pump([&] { return failed(refusedDelete->pbar) || refusedDelete->closed; }));
    EXPECT_FALSE(refusedDelete->closed);
    EXPECT_FALSE(theirs->currentRecord->isDeleted);

    // The owner renames; the screen's model follows only after the save.
    auto own = edit(mine);
    EXPECT_EQ(own->pathIndicator, "不变更");
    EXPECT_FALSE(own->deleteButtonHidden);
    own->name = "T2";
    send(own);
    EXPECT_TRUE(own->closed);
    EXPECT_EQ(mine->currentRecord->name, "T2");
    EXPECT_EQ(mine->codeTableNameText, "T2");

    // A moderator edits with a new file, then deletes.
    auto mod = browse(account("moderator"));
    ASSERT_TRUE(pump([] { return isModerator().load(); }));
    refresh(mod);
    ASSERT_FALSE(mod->editButtonHidden);
    auto moderated = edit(mod);
    moderated->selectFile(file("new.txt", "n\n"));
    moderated->des = "moderated";
    send(moderated);
    EXPECT_TRUE(moderated->closed);
    EXPECT_EQ(mod->currentRecord->des, "moderated");
    EXPECT_EQ(mod->currentRecord->rowCount, 2); // a main table keeps its count
    auto removal = edit(mod);
    removal->deleteConfirmed();
    ASSERT_TRUE(pump([&] { return removal->closed || failed(removal->pbar); }));
    EXPECT_TRUE(removal->closed);
    EXPECT_TRUE(mod->currentRecord->isDeleted);
    refresh(mine);
    EXPECT_EQ(mine->numberOfRows(), 0);
}

TEST_F(QvCloudTest, TheFormRefusesEmptyFieldsRefusedWordsAndMissingFiles) {
    auto b = browse(account("ann"), 4);
    auto sheet = b->uploadTap();
    sheet->viewDidLoad();
    EXPECT_EQ(sheet->hit, "分享一份扩展词库表");
    EXPECT_EQ(sheet->kindFolder(), where_.userFolder / "Extended/");
    sheet->name = sheet->nickname = sheet->des = "x";
    sheet->doUpload();
    ASSERT_TRUE(sheet->alert);
    EXPECT_EQ(sheet->alert->message, "不能留空");
    sheet->alertShown();

    sheet->des = " ";
    sheet->selectFile(file("w.txt", "a'b\n"));
    sheet->name = "我的备份";
    send(sheet);
    EXPECT_FALSE(sheet->closed);
    EXPECT_EQ(sheet->pbar->text(), "上传失败。");
    EXPECT_TRUE(failed(sheet->pbar));

    sheet->name = "ok";
    sheet->selectFile(base_ / "picked" / "gone.txt");
    send(sheet);
    EXPECT_FALSE(sheet->closed);
    EXPECT_NE(sheet->pbar->text().find("找不到文件"), std::string::npos);

    // The file uploaded is the one chosen, wherever it lies.
    sheet->selectFile(file("elsewhere.txt", "a'b\nc'd\n"));
    send(sheet);
    EXPECT_TRUE(sheet->closed);
    refresh(b);
    ASSERT_EQ(b->numberOfRows(), 1);
    EXPECT_EQ(b->records[0]->rowCount, 2);
    EXPECT_EQ(b->records[0]->des, " ");

    // Closing through the close control runs the callback once.
    int calls = 0;
    auto other = b->uploadTap();
    other->callback = [&] { ++calls; };
    other->dismissController();
    EXPECT_EQ(calls, 1);
}

TEST_F(QvCloudTest, ListsFollowCursorsAndSkipRecordsWithoutTheirFields) {
    auto ann = account("ann");
    std::vector<cloud::Record> records;
    const int count = static_cast<int>(QvCloudController::kBatch) + 50;
    for (int i = 0; i < count; ++i) {
        cloud::Record r("ExtendedTables", cloud::RecordID::random());
        r.setValue("Name", "t" + std::to_string(i));
        r.setValue("Description", std::string("d"));
        r.setValue("UploadUserName", std::string("ann"));
        r.setValue("DownloadTimes", std::int64_t{i});
        if (i == 7) r.removeValue("UploadUserName");
        records.push_back(std::move(r));
    }
    bool saved = false;
    ann->publicCloudDatabase()->modifyRecords(records, {}, {}, {}, [&](cloud::ModifyResult r) {
        EXPECT_FALSE(r.error);
        plat::MainQueue::shared().async([&] { saved = true; });
    });
    ASSERT_TRUE(pump([&] { return saved; }));
    auto b = browse(ann, 4);
    EXPECT_EQ(b->numberOfRows(), count - 1);
    EXPECT_EQ(b->cellText(0), "t" + std::to_string(count - 1));
    EXPECT_TRUE(b->statusText.empty());
}

TEST_F(QvCloudTest, NoAccountCoversTheScreen) {
    auto b = QvCloudController::create(account(""), where_.userFolder, moderators_);
    b->viewDidLoad();
    EXPECT_FALSE(b->blockBoxHidden);
    EXPECT_EQ(b->numberOfRows(), 0);
    EXPECT_NE(b->storeText.find("本地或共享存储"), std::string::npos);
}

} // namespace
} // namespace kelvane::test
