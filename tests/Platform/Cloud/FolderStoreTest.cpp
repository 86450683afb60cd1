#include "Platform/Cloud/CloudOperation.h"
#include "Platform/Cloud/FolderStore.h"
#include "Platform/Foundation/FileUtil.h"
#include "CloudTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;
using namespace plat::cloud;
using namespace plat::cloud::test;

namespace {

TEST_F(FolderStoreTest, SavedRecordComesBackWithTypedFieldsAssetAndOwner) {
    auto alice = open("alice");
    ASSERT_EQ(alice->accountStatus(), AccountStatus::Available);
    Record r("Backups", RecordID::random());
    const Date when = std::chrono::system_clock::now();
    r.setValue("Comment", std::string("备注"));
    r.setValue("Count", std::int64_t{-7});
    r.setValue("Ratio", 0.25);
    r.setValue("When", when);
    r.setValue("Config", Asset(file("config.plist", "<plist>1</plist>")));
    std::vector<double> progress;
    const auto saved = save(*alice->privateCloudDatabase(), {r}, {}, &progress);
    ASSERT_FALSE(saved.error) << describe(*saved.error);
    ASSERT_EQ(saved.savedRecords.size(), 1u);
    EXPECT_FALSE(saved.savedRecords[0].recordChangeTag.empty());
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);

    auto got = fetch(*alice->privateCloudDatabase(), {r.recordID()});
    ASSERT_FALSE(got.error);
    const Record& back = got.records.at(r.recordID());
    EXPECT_EQ(back.recordType(), "Backups");
    EXPECT_EQ(back.stringForKey("Comment"), "备注");
    EXPECT_EQ(back.integerForKey("Count"), -7);
    EXPECT_DOUBLE_EQ(std::get<double>(*back.valueForKey("Ratio")), 0.25);
    EXPECT_LE(std::chrono::abs(std::get<Date>(*back.valueForKey("When")) - when), std::chrono::milliseconds(1));
    ASSERT_NE(back.assetForKey("Config"), nullptr);
    EXPECT_EQ(plat::readWholeFile(back.assetForKey("Config")->fileURL()), "<plist>1</plist>");
    ASSERT_TRUE(back.creatorUserRecordID);
    EXPECT_EQ(back.creatorUserRecordID->recordName, "__defaultOwner__");
    ASSERT_TRUE(back.creationDate);

    // The downloaded copy goes away with the last record holding it.
    const fs::path copy = back.assetForKey("Config")->fileURL();
    got.records.clear();
    EXPECT_FALSE(fs::exists(copy));
}

TEST_F(FolderStoreTest, PrivateDatabasesAreSeparateAndThePublicOneIsShared) {
    auto alice = open("alice"), bob = open("bob");
    const Record mine = table("a", 0, file("a.txt", "x"));
    ASSERT_FALSE(save(*alice->privateCloudDatabase(), {mine}).error);
    ASSERT_FALSE(save(*alice->publicCloudDatabase(), {table("shared", 0, file("s.txt", "y"))}).error);

    EXPECT_TRUE(fetch(*bob->privateCloudDatabase(), {mine.recordID()}).recordErrors.count(mine.recordID()));
    const auto list = query(*bob->publicCloudDatabase(), {"MainCodeTables", {}}, std::nullopt, 10);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0].stringForKey("Name"), "shared");
    ASSERT_TRUE(list.records[0].creatorUserRecordID);
    EXPECT_EQ(list.records[0].creatorUserRecordID->recordName, userRecordNameForAccount("alice"));
}

TEST_F(FolderStoreTest, QuerySortsAndPagesWithCursorsWithoutUnwantedAssets) {
    auto db = open("alice")->publicCloudDatabase();
    const fs::path data = file("t.txt", "rows");
    std::vector<Record> records;
    for (std::int64_t n : {3, 9, 1, 7, 5}) records.push_back(table("t" + std::to_string(n), n, data));
    ASSERT_FALSE(save(*db, records).error);

    const Query q{"MainCodeTables", {{"DownloadTimes", false}}};
    const DesiredKeys keys = std::vector<std::string>{"Name", "DownloadTimes"};
    std::vector<std::int64_t> seen;
    auto page = query(*db, q, keys, 2);
    std::vector<std::size_t> sizes;
    for (int guard = 0; guard < 10; ++guard) {
        sizes.push_back(page.records.size());
        for (const auto& r : page.records) {
            seen.push_back(*r.integerForKey("DownloadTimes"));
            EXPECT_EQ(r.assetForKey("Data"), nullptr);
        }
        if (!page.cursor) break;
        page = more(*db, *page.cursor, keys, 2);
    }
    EXPECT_EQ(seen, (std::vector<std::int64_t>{9, 7, 5, 3, 1}));
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 2, 1}));
    EXPECT_TRUE(query(*db, {"KeyboardMaps", {}}, std::nullopt, 10).records.empty());
}

TEST_F(FolderStoreTest, OwnersAndModeratorsChangeRecordsOthersOnlyTheOpenFields) {
    auto alice = open("alice");
    const std::string modName = userRecordNameForAccount("mod");
    auto bob = open("bob", {modName}), mod = open("mod", {modName});
    const Record r = table("t", 0, file("t.txt", "x"));
    ASSERT_FALSE(save(*alice->publicCloudDatabase(), {r}).error);

    auto fetched = [&](Container& c) { return fetch(*c.publicCloudDatabase(), {r.recordID()}).records.at(r.recordID()); };
    struct Case {
        const char* name;
        Container* who;
        const char* key;
        bool allowed;
    };
    const Case cases[] = {
        {"other renames", bob.get(), "Name", false},
        {"other counts a download", bob.get(), "DownloadTimes", true},
        {"owner renames", alice.get(), "Name", true},
        {"moderator renames", mod.get(), "Name", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Record edit = fetched(*c.who);
        if (std::string(c.key) == "Name") edit.setValue("Name", std::string(c.name));
        else edit.setValue("DownloadTimes", *edit.integerForKey("DownloadTimes") + 1);
        const auto result = save(*c.who->publicCloudDatabase(), {edit});
        EXPECT_EQ(!result.error, c.allowed);
        if (!c.allowed) {
            ASSERT_TRUE(result.error);
            EXPECT_EQ(result.error->code, ErrorCode::PermissionFailure);
        }
    }
    EXPECT_EQ(fetched(*bob).stringForKey("Name"), "moderator renames");
    EXPECT_EQ(fetched(*bob).integerForKey("DownloadTimes"), 1);
    // Data stayed: a save sends only the changed fields.
    EXPECT_EQ(plat::readWholeFile(fetched(*bob).assetForKey("Data")->fileURL()), "x");

    const auto refused = save(*bob->publicCloudDatabase(), {}, {r.recordID()});
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, ErrorCode::PermissionFailure);
    EXPECT_FALSE(save(*mod->publicCloudDatabase(), {}, {r.recordID()}).error);
    EXPECT_TRUE(query(*alice->publicCloudDatabase(), {"MainCodeTables", {}}, std::nullopt, 10).records.empty());
}

TEST_F(FolderStoreTest, RefusedSavesStoreNothing) {
    auto db = open("alice")->publicCloudDatabase();
    const Record r = table("t", 0, file("t.txt", "x"));
    ASSERT_FALSE(save(*db, {r}).error);
    Record first = fetch(*db, {r.recordID()}).records.at(r.recordID());
    Record second = first;
    first.setValue("DownloadTimes", std::int64_t{1});
    ASSERT_FALSE(save(*db, {first}).error);
    second.setValue("DownloadTimes", std::int64_t{1});

    Record missing = table("m", 0, files_ / "absent.txt");
    Record badName("MainCodeTables", RecordID{"../escape"});
    badName.setValue("Name", std::string("x"));
    Record badType("Main/Tables", RecordID::random());
    struct Case {
        const char* name;
        Record record;
        ErrorCode code;
    };
    const Case cases[] = {{"stale copy", second, ErrorCode::ServerRecordChanged},
                          {"missing file", missing, ErrorCode::AssetFileNotFound},
                          {"record name with ..", badName, ErrorCode::InvalidArguments},
                          {"record type with /", badType, ErrorCode::InvalidArguments}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = save(*db, {c.record});
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->code, c.code);
        EXPECT_TRUE(result.savedRecords.empty());
    }
    EXPECT_EQ(query(*db, {"MainCodeTables", {}}, std::nullopt, 10).records.size(), 1u);
    EXPECT_FALSE(fs::exists(store_.parent_path() / "escape.plist"));
}

TEST_F(FolderStoreTest, ADamagedRecordFileIsSkippedAndOnlyAModeratorRemovesIt) {
    const std::string modName = userRecordNameForAccount("mod");
    auto bob = open("bob", {modName}), mod = open("mod", {modName});
    auto db = bob->publicCloudDatabase();
    const Record good = table("good", 0, file("g.txt", "g"));
    ASSERT_FALSE(save(*db, {good}).error);
    const fs::path folder = store_ / "iCloud.test" / "Public" / "Records" / "MainCodeTables";
    ASSERT_TRUE(plat::writeFileAtomically(folder / "DAMAGED.plist", "<plist><dict><key>Fie"));
    const auto list = query(*db, {"MainCodeTables", {}}, std::nullopt, 10);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0].stringForKey("Name"), "good");
    EXPECT_TRUE(fetch(*db, {RecordID{"DAMAGED"}}).recordErrors.count(RecordID{"DAMAGED"}));
    const auto refused = save(*db, {}, {RecordID{"DAMAGED"}});
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, ErrorCode::PermissionFailure);
    EXPECT_FALSE(save(*mod->publicCloudDatabase(), {}, {RecordID{"DAMAGED"}}).error);
    EXPECT_FALSE(fs::exists(folder / "DAMAGED.plist"));
}

TEST_F(FolderStoreTest, NoAccountMeansNoStore) {
    auto nobody = open("");
    EXPECT_EQ(nobody->accountStatus(), AccountStatus::NoAccount);
    const auto result = save(*nobody->privateCloudDatabase(), {table("t", 0, file("t.txt", "x"))});
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, ErrorCode::NotAuthenticated);
    EXPECT_NE(nobody->storeDescription().find("本地或共享存储"), std::string::npos);
}

TEST(CloudOperationTest, AWorkThatOutlivesItsTimeOutEndsTimedOutAndIsDroppedLater) {
    auto queue = std::make_shared<plat::SerialQueue>("test.cloud");
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool open = false;
        bool finished = false;
    };
    auto gate = std::make_shared<Gate>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto lateProgress = std::make_shared<std::atomic<int>>(0);
    auto done = std::make_shared<std::promise<int>>();
    runOperation<int>(
        queue, std::chrono::milliseconds(50),
        [gate, lateProgress](const std::shared_ptr<ProgressGate>& progress) {
            std::unique_lock lk(gate->m);
            gate->cv.wait_for(lk, std::chrono::seconds(20), [&] { return gate->open; });
            progress->post([lateProgress] { ++*lateProgress; });
            gate->finished = true;
            gate->cv.notify_all();
            return 1;
        },
        [calls, done](int r) {
            ++*calls;
            done->set_value(r);
        },
        [] { return -1; });
    EXPECT_EQ(waitFor(done->get_future()), -1);
    {
        std::lock_guard lk(gate->m);
        gate->open = true;
    }
    gate->cv.notify_all();
    {
        std::unique_lock lk(gate->m);
        ASSERT_TRUE(gate->cv.wait_for(lk, std::chrono::seconds(20), [&] { return gate->finished; }));
    }
    // Drain: a block queued after the late work has run.
    auto drained = std::make_shared<std::promise<bool>>();
    queue->async([drained] { drained->set_value(true); });
    waitFor(drained->get_future());
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(*lateProgress, 0);
}

} // namespace
