// A store folder that other accounts write too: saves from two processes at once,
// links and oversized files put there by someone else.
#include "Platform/Cloud/FolderStore.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "CloudTestSupport.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ctime>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace plat::cloud;
using namespace plat::cloud::test;

namespace {

// The counting child (StoreChild.cpp): prints "ready", counts once its standard
// input closes, then prints "saved <n> refused <m>".
struct StoreChild : taviro::test::ChildProcess {
    explicit StoreChild(const std::vector<std::string>& args) : ChildProcess(CLOUD_STORE_CHILD, args) {}
    // The numbers of its closing line; false when none came in time.
    bool counts(int& saved, int& refused) {
        for (std::string line = nextLine(); !line.empty(); line = nextLine())
            if (std::sscanf(line.c_str(), "saved %d refused %d", &saved, &refused) == 2) return true;
        return false;
    }
};

using SharedFolderTest = FolderStoreTest;

TEST_F(SharedFolderTest, TwoProcessesCountingOneRecordLoseNoSaveReportedAsSaved) {
    auto alice = open("alice");
    const Record r = table("t", 5, file("t.txt", "rows"));
    ASSERT_FALSE(save(*alice->publicCloudDatabase(), {r}).error);

    constexpr int kCycles = 100;
    StoreChild bob({store_.string(), "bob", r.recordID().recordName, std::to_string(kCycles)});
    StoreChild carol({store_.string(), "carol", r.recordID().recordName, std::to_string(kCycles)});
    ASSERT_TRUE(bob.waitFor("ready\n"));
    ASSERT_TRUE(carol.waitFor("ready\n"));
    bob.closeInput();
    carol.closeInput();
    int bobSaved = 0, carolSaved = 0, refused = 0;
    ASSERT_TRUE(bob.counts(bobSaved, refused));
    ASSERT_TRUE(carol.counts(carolSaved, refused));
    EXPECT_EQ(bobSaved, kCycles);
    EXPECT_EQ(carolSaved, kCycles);
    const auto got = fetch(*alice->publicCloudDatabase(), {r.recordID()}, std::vector<std::string>{"DownloadTimes"});
    ASSERT_TRUE(got.records.count(r.recordID()));
    EXPECT_EQ(got.records.at(r.recordID()).integerForKey("DownloadTimes"), 5 + bobSaved + carolSaved);
}

// Every file and link below `root`, with its content or where it points.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const auto rel = fs::relative(it->path(), root).string();
        if (it->is_symlink(ec)) out[rel] = "-> " + fs::read_symlink(it->path(), ec).string();
        else if (it->is_regular_file(ec)) out[rel] = plat::readWholeFile(it->path()).value_or("?");
        else out[rel] = "/";
    }
    return out;
}

bool anyFileHolds(const fs::path& folder, const std::string& bytes) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file(ec) && plat::readWholeFile(it->path()) == bytes) return true;
    return false;
}

TEST_F(SharedFolderTest, LinksInTheStoreAreNeverFollowed) {
    const std::string secret = "SECRET of the victim";
    struct Layout {
        const char* name;
        // Changes the store after alice saved `id` (whose data file is `asset`), with
        // `outside` a folder of the victim that holds "secret.txt".
        std::function<void(const fs::path& publicDb, const std::string& id, const std::string& asset,
                           const fs::path& outside)>
            arrange;
    };
    const Layout layouts[] = {
        {"asset is a link to a file outside",
         [](const fs::path& db, const std::string& id, const std::string& asset, const fs::path& outside) {
             fs::remove(db / "Assets" / id / asset);
             fs::create_symlink(outside / "secret.txt", db / "Assets" / id / asset);
         }},
        {"asset folder is a link to a folder outside",
         [](const fs::path& db, const std::string& id, const std::string& asset, const fs::path& outside) {
             // The victim's folder holds a file of the old asset's name.
             fs::copy_file(outside / "secret.txt", outside / asset);
             fs::remove_all(db / "Assets" / id);
             fs::create_symlink(outside, db / "Assets" / id);
         }},
        {"record file is a link",
         [](const fs::path& db, const std::string& id, const std::string&, const fs::path& outside) {
             const fs::path rec = db / "Records" / "MainCodeTables" / (id + ".plist");
             fs::rename(rec, outside / "record.plist");
             fs::create_symlink(outside / "record.plist", rec);
         }},
        {"record type folder is a link",
         [](const fs::path& db, const std::string&, const std::string&, const fs::path& outside) {
             fs::rename(db / "Records" / "MainCodeTables", outside / "MainCodeTables");
             fs::create_symlink(outside / "MainCodeTables", db / "Records" / "MainCodeTables");
         }},
        {"database folder is a link",
         [](const fs::path& db, const std::string&, const std::string&, const fs::path& outside) {
             fs::rename(db, outside / "Public");
             fs::create_symlink(outside / "Public", db);
         }},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        store_ = taviro::test::freshDir("store");
        cache_ = taviro::test::freshDir("cache");
        const fs::path outside = taviro::test::freshDir("outside");
        ASSERT_TRUE(plat::writeFileAtomically(outside / "secret.txt", secret));
        const std::string modName = userRecordNameForAccount("mod");
        auto alice = open("alice"), bob = open("bob", {modName}), mod = open("mod", {modName});

        const auto first = save(*alice->publicCloudDatabase(), {table("t", 0, file("t.txt", "rows"))});
        ASSERT_EQ(first.savedRecords.size(), 1u);
        Record mine = first.savedRecords[0];
        const std::string id = mine.recordID().recordName;
        const fs::path db = store_ / "iCloud.test" / "Public";
        ASSERT_EQ(std::distance(fs::directory_iterator(db / "Assets" / id), fs::directory_iterator()), 1);
        const std::string asset = fs::directory_iterator(db / "Assets" / id)->path().filename().string();
        layout.arrange(db, id, asset, outside);
        const auto before = snapshot(outside);

        plat::LogCapture log;
        // Another account lists with the files and downloads the record.
        const auto list = query(*bob->publicCloudDatabase(), {"MainCodeTables", {}}, std::nullopt, 10);
        for (const auto& r : list.records) EXPECT_NE(r.recordID().recordName, id);
        const auto got = fetch(*bob->publicCloudDatabase(), {mine.recordID()});
        EXPECT_FALSE(got.records.count(mine.recordID()));
        // The owner saves a new file over the record, and a new record; a moderator deletes it.
        mine.setValue("Data", Asset(file("new.txt", "new rows")));
        save(*alice->publicCloudDatabase(), {mine});
        save(*alice->publicCloudDatabase(), {table("u", 0, file("u.txt", "more"))});
        save(*mod->publicCloudDatabase(), {}, {mine.recordID()});

        EXPECT_EQ(snapshot(outside), before);
        EXPECT_FALSE(anyFileHolds(cache_, secret));
        EXPECT_FALSE(anyFileHolds(store_ / "iCloud.test", secret));
        EXPECT_TRUE(log.contains("is a link")) << layout.name;
    }
}

// A store folder in a new folder that every account may reach, set up for a group as
// the README says: owned by `group`, group-writable, set-group-id. Empty on failure.
fs::path groupStore(gid_t group) {
    char top[] = "/tmp/taviro-shared-XXXXXX";
    if (!::mkdtemp(top) || ::chmod(top, 0755) != 0) return {};
    const fs::path shared = fs::path(top) / "store";
    fs::create_directory(shared);
    if (::chown(shared.c_str(), 0, group) != 0 || ::chmod(shared.c_str(), 02775) != 0) return {};
    return shared;
}

// Two Unix accounts of one group share a folder (set-group-id, group-writable, umask
// 002): both upload, count and save, whoever made the store's lock file. A lock file that
// the group may only read is locked read-only; one that an earlier version left private
// to its maker is opened to the group at its maker's next save.
TEST_F(SharedFolderTest, TwoAccountsOfTheFoldersGroupBothSave) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run children as two users";
    constexpr uid_t kAnn = 65534, kBob = 65533;
    constexpr gid_t kGroup = 65532;
    struct Case {
        const char* name;
        mode_t lockMode; // 0: as the store made it
    };
    for (const Case c : {Case{"a new folder", 0}, Case{"a lock file the group may only read", 0640},
                         Case{"a lock file an earlier version made private", 0600}}) {
        SCOPED_TRACE(c.name);
        const fs::path shared = groupStore(kGroup);
        ASSERT_FALSE(shared.empty());
        const std::string id = "shared-table";
        const std::string ann = std::to_string(kAnn), bob = std::to_string(kBob), group = std::to_string(kGroup);
        {
            StoreChild maker({shared.string(), "ann", id, "0", ann, group});
            EXPECT_TRUE(maker.waitFor("created\n", std::chrono::seconds(30)));
        }
        const fs::path lock = shared / "iCloud.test" / "Public" / ".lock";
        ASSERT_TRUE(fs::exists(lock));
        struct stat st {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kAnn);
        EXPECT_EQ(st.st_mode & 0777, 0664u);
        if (c.lockMode) ASSERT_EQ(::chmod(lock.c_str(), c.lockMode), 0);
        if (c.lockMode == 0600) {
            StoreChild next({shared.string(), "ann", "another-table", "0", ann, group});
            EXPECT_TRUE(next.waitFor("created\n", std::chrono::seconds(30)));
        }

        constexpr int kCycles = 30;
        StoreChild first({shared.string(), "ann", id, std::to_string(kCycles), ann, group});
        StoreChild second({shared.string(), "bob", id, std::to_string(kCycles), bob, group});
        ASSERT_TRUE(first.waitFor("ready\n"));
        ASSERT_TRUE(second.waitFor("ready\n"));
        first.closeInput();
        second.closeInput();
        int annSaved = 0, bobSaved = 0, refused = 0;
        EXPECT_TRUE(first.counts(annSaved, refused));
        EXPECT_TRUE(second.counts(bobSaved, refused));
        EXPECT_EQ(annSaved, kCycles);
        EXPECT_EQ(bobSaved, kCycles);
        store_ = shared;
        const auto got =
            fetch(*open("carol")->publicCloudDatabase(), {RecordID{id}}, std::vector<std::string>{"DownloadTimes"});
        ASSERT_TRUE(got.records.count(RecordID{id}));
        EXPECT_EQ(got.records.at(RecordID{id}).integerForKey("DownloadTimes"), annSaved + bobSaved);
        fs::remove_all(shared.parent_path());
    }
}

// What another account manages to do to `path`, in a child process of that account.
struct Attempts {
    bool read, list, remove;
};
Attempts tryAs(uid_t uid, gid_t gid, const fs::path& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(64);
        ::umask(002);
        int done = 0;
        if (const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK); fd >= 0) {
            char c;
            struct stat st {};
            if (::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || ::read(fd, &c, 1) >= 0)) done |= 1;
            if (S_ISDIR(st.st_mode) && ::openat(fd, ".", O_RDONLY | O_DIRECTORY) >= 0 &&
                ::faccessat(fd, ".", R_OK | X_OK, AT_EACCESS) == 0)
                done |= 2;
        }
        // Renaming within its folder takes it from its owner as surely as removing it.
        const fs::path aside = path.parent_path() / ".taken";
        if (::rename(path.c_str(), aside.c_str()) == 0) {
            done |= 4;
            ::rename(aside.c_str(), path.c_str());
        } else if (::unlink(path.c_str()) == 0) {
            done |= 4;
        }
        ::_exit(done);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const int done = WIFEXITED(status) ? WEXITSTATUS(status) : 64;
    EXPECT_NE(done, 64);
    return {(done & 1) != 0, (done & 2) != 0, (done & 4) != 0};
}

// In a folder shared by a group (set-group-id, umask 002), an account's backups are its
// own: another account of the group or outside it can neither read nor remove them, while
// public tables stay shared.
TEST_F(SharedFolderTest, AnAccountsPrivateRecordsAreItsOwnInAGroupsFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run children as other users";
    constexpr uid_t kAnn = 65534, kBob = 65533, kCarol = 65531;
    constexpr gid_t kGroup = 65532, kOtherGroup = 65530;
    const fs::path shared = groupStore(kGroup);
    ASSERT_FALSE(shared.empty());
    const std::string ann = std::to_string(kAnn), group = std::to_string(kGroup);
    {
        StoreChild backup({shared.string(), "ann", "ann-backup", "-1", ann, group});
        EXPECT_TRUE(backup.waitFor("created\n", std::chrono::seconds(30)));
        StoreChild table({shared.string(), "ann", "ann-table", "0", ann, group});
        EXPECT_TRUE(table.waitFor("created\n", std::chrono::seconds(30)));
    }
    const fs::path mine = shared / "iCloud.test" / "Private" / userRecordNameForAccount("ann");
    const fs::path record = mine / "Records" / "Backups" / "ann-backup.plist";
    ASSERT_TRUE(fs::is_regular_file(record));
    ASSERT_TRUE(fs::is_directory(mine / "Assets" / "ann-backup"));
    const fs::path asset = fs::directory_iterator(mine / "Assets" / "ann-backup")->path();
    // Everything below the account's folder is its own alone.
    for (auto it = fs::recursive_directory_iterator(mine); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st {};
        ASSERT_EQ(::lstat(it->path().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kAnn) << it->path();
        EXPECT_EQ(st.st_mode & 077, 0u) << it->path();
    }
    const fs::path publicRecord = shared / "iCloud.test" / "Public" / "Records" / "MainCodeTables" / "ann-table.plist";
    struct Who {
        const char* name;
        uid_t uid;
        gid_t gid;
    };
    for (const Who who : {Who{"an account of the group", kBob, kGroup}, Who{"an account outside it", kCarol, kOtherGroup}}) {
        SCOPED_TRACE(who.name);
        for (const fs::path& p : {record, asset, mine / "Records" / "Backups", mine / "Assets" / "ann-backup", mine}) {
            SCOPED_TRACE(p.string());
            const Attempts a = tryAs(who.uid, who.gid, p);
            EXPECT_FALSE(a.read);
            EXPECT_FALSE(a.list);
            EXPECT_FALSE(a.remove);
        }
        EXPECT_TRUE(tryAs(who.uid, who.gid, publicRecord).read);
    }
    EXPECT_TRUE(fs::is_regular_file(record));
    EXPECT_TRUE(fs::is_regular_file(asset));
    // The group still counts downloads of the shared table.
    StoreChild bob({shared.string(), "bob", "ann-table", "1", std::to_string(kBob), group});
    ASSERT_TRUE(bob.waitFor("ready\n"));
    bob.closeInput();
    int saved = 0, refused = 0;
    EXPECT_TRUE(bob.counts(saved, refused));
    EXPECT_EQ(saved, 1);
    fs::remove_all(shared.parent_path());
}

// The container and its "Private" keep their entries to their owners (the sticky bit), so
// an account of the group can rename neither "Private" nor "Public" nor another account's
// folder; a container an earlier version made without the bit gets it at its owner's next
// save. A "Private" that is missing while a renamed one holds the account's backups is
// told of, not made anew.
TEST_F(SharedFolderTest, NoAccountOfTheGroupRenamesTheFoldersOfTheStore) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run children as other users";
    constexpr uid_t kAnn = 65534, kBob = 65533;
    constexpr gid_t kGroup = 65532;
    const std::string ann = std::to_string(kAnn), bob = std::to_string(kBob), group = std::to_string(kGroup);
    struct Case {
        const char* name;
        bool earlierContainer;  // made without the sticky bit
    };
    for (const Case c : {Case{"a new store", false}, Case{"a container an earlier version made", true}}) {
        SCOPED_TRACE(c.name);
        const fs::path shared = groupStore(kGroup);
        ASSERT_FALSE(shared.empty());
        const fs::path container = shared / "iCloud.test", priv = container / "Private";
        if (c.earlierContainer) {
            fs::create_directories(container);
            ASSERT_EQ(::chown(container.c_str(), kAnn, kGroup), 0);
            ASSERT_EQ(::chmod(container.c_str(), 02775), 0);
        }
        for (const char* who : {"ann", "bob"}) {
            StoreChild backup({shared.string(), who, std::string(who) + "-backup", "-1", who == std::string("ann") ? ann : bob, group});
            EXPECT_TRUE(backup.waitFor("created\n", std::chrono::seconds(30)));
        }
        StoreChild table({shared.string(), "ann", "ann-table", "0", ann, group});
        EXPECT_TRUE(table.waitFor("created\n", std::chrono::seconds(30)));
        for (const fs::path& folder : {container, priv}) {
            struct stat st {};
            ASSERT_EQ(::stat(folder.c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, kAnn) << folder;
            EXPECT_TRUE(st.st_mode & S_ISVTX) << folder;
            EXPECT_EQ(st.st_mode & 0070, 0070u) << folder;  // the group still makes its own there
        }
        // Bob, of the group, renames nothing of the store's nor of Ann's.
        for (const fs::path& p : {priv, container / "Public", priv / userRecordNameForAccount("ann")}) {
            SCOPED_TRACE(p.string());
            EXPECT_FALSE(tryAs(kBob, kGroup, p).remove);
            EXPECT_TRUE(fs::is_directory(p));
        }

        // Renamed all the same (by the container's owner, or by hand): told, not made anew.
        const fs::path renamed = container / "Private-old";
        fs::rename(priv, renamed);
        {
            StoreChild again({shared.string(), "bob", "bob-again", "-1", bob, group});
            const std::string line = again.nextLine(std::chrono::seconds(30));
            EXPECT_TRUE(line.starts_with("failed ")) << line;
            EXPECT_NE(line.find((renamed / userRecordNameForAccount("bob")).string()), std::string::npos) << line;
            EXPECT_NE(line.find("改回 Private"), std::string::npos) << line;
        }
        EXPECT_FALSE(fs::exists(priv));
        std::error_code ec;
        fs::rename(renamed, priv, ec);
        ASSERT_FALSE(ec) << ec.message();
        StoreChild back({shared.string(), "bob", "bob-again", "-1", bob, group});
        EXPECT_TRUE(back.waitFor("created\n", std::chrono::seconds(30)));
        EXPECT_EQ(std::distance(fs::directory_iterator(priv / userRecordNameForAccount("bob") / "Records" / "Backups"),
                                fs::directory_iterator()),
                  2);
        fs::remove_all(shared.parent_path());
    }
}

// Sets the last change of `p` (a file, link or folder, not followed) `ago` back.
void age(const fs::path& p, std::chrono::seconds ago) {
    const timespec when{std::time(nullptr) - static_cast<std::time_t>(ago.count()), 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

// What saves killed halfway leave in a store (temporaries of record and asset files, the
// files of a new record that was never written) goes when the store is next used, if it
// is this account's, old and held by no one; everything else stays.
TEST_F(SharedFolderTest, WhatKilledSavesLeftGoesAtTheNextUseAndNothingElse) {
    const std::string uuid = "0123abcd-0000-4000-8000-00000000beef";
    auto ann = open("ann");
    const auto first = save(*ann->publicCloudDatabase(), {table("t", 0, file("t.txt", "rows"))});
    ASSERT_EQ(first.savedRecords.size(), 1u);
    const std::string id = first.savedRecords[0].recordID().recordName;
    const fs::path db = store_ / "iCloud.test" / "Public";
    const fs::path records = db / "Records" / "MainCodeTables", assets = db / "Assets";
    const auto old = std::chrono::minutes(10);
    auto plant = [&](const fs::path& p, std::chrono::seconds ago) {
        ASSERT_TRUE(plat::writeFileAtomically(p, "left"));
        age(p, ago);
    };
    // Left by killed saves: these go.
    plant(records / (".u.plist." + uuid + ".tmp"), old);
    plant(assets / id / (".Data-x." + uuid + ".tmp"), old);
    fs::create_directory(assets / "never-written");
    plant(assets / "never-written" / "Data-1", old);
    age(assets / "never-written", old);
    // These stay: a save at work (young), a writer holding its temporary, a link, an
    // orphan folder with a link in it, the user's own names.
    plant(records / (".v.plist." + uuid + ".tmp"), std::chrono::seconds(10));
    const fs::path held = records / (".w.plist." + uuid + ".tmp");
    plant(held, old);
    taviro::test::ChildProcess holder("/usr/bin/flock", {held.string(), "sh", "-c", "echo ready; cat >/dev/null"});
    ASSERT_TRUE(holder.waitFor("ready\n"));
    const fs::path outside = taviro::test::freshDir("outside");
    plant(outside / "victim", old);
    fs::create_symlink(outside / "victim", records / (".x.plist." + uuid + ".tmp"));
    fs::create_directory(assets / "with-a-link");
    fs::create_symlink(outside / "victim", assets / "with-a-link" / "Data-1");
    age(assets / "with-a-link", old);
    fs::create_directory(assets / "young");
    plant(assets / "young" / "Data-1", old);
    plant(records / "notes.tmp", old);
    plant(records / (".y.plist." + uuid + ".tmp.keep"), old);
    if (::geteuid() == 0) {
        // Another account's leftovers are its own to clean.
        plant(records / (".z.plist." + uuid + ".tmp"), old);
        ASSERT_EQ(::lchown((records / (".z.plist." + uuid + ".tmp")).c_str(), 65534, 65534), 0);
        fs::create_directory(assets / "theirs");
        plant(assets / "theirs" / "Data-1", old);
        ASSERT_EQ(::lchown((assets / "theirs").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::lchown((assets / "theirs" / "Data-1").c_str(), 65534, 65534), 0);
        age(assets / "theirs", old);
    }
    auto before = snapshot(store_);
    const auto outsideBefore = snapshot(outside);

    plat::LogCapture log;
    auto next = open("ann");
    const auto list = query(*next->publicCloudDatabase(), {"MainCodeTables", {}}, std::nullopt, 10);
    ASSERT_FALSE(list.error);
    ASSERT_EQ(list.records.size(), 1u);
    for (const auto& gone : {"iCloud.test/Public/Records/MainCodeTables/.u.plist." + uuid + ".tmp",
                             "iCloud.test/Public/Assets/" + id + "/.Data-x." + uuid + ".tmp",
                             std::string("iCloud.test/Public/Assets/never-written"),
                             std::string("iCloud.test/Public/Assets/never-written/Data-1")})
        EXPECT_EQ(before.erase(gone), 1u) << gone;
    EXPECT_EQ(snapshot(store_), before);
    EXPECT_EQ(snapshot(outside), outsideBefore);
    EXPECT_TRUE(log.contains("left by a save that did not finish"));
    // The record saved before is whole.
    EXPECT_TRUE(fetch(*next->publicCloudDatabase(), {RecordID{id}}).records.count(RecordID{id}));
    holder.closeInput();
}

// A hard link that another account made in the store may name a file of this user that
// the store should never hand out: an asset or record file with other links is not read.
TEST_F(SharedFolderTest, HardLinkedFilesInTheStoreAreNotRead) {
    const std::string secret = "SECRET of the victim";
    const fs::path outside = taviro::test::freshDir("outside");
    ASSERT_TRUE(plat::writeFileAtomically(outside / "secret.txt", secret));
    auto alice = open("alice"), bob = open("bob");
    const auto first = save(*alice->publicCloudDatabase(), {table("t", 0, file("t.txt", "rows"))});
    ASSERT_EQ(first.savedRecords.size(), 1u);
    const RecordID id = first.savedRecords[0].recordID();
    const fs::path assets = store_ / "iCloud.test" / "Public" / "Assets" / id.recordName;
    const fs::path asset = fs::directory_iterator(assets)->path();
    fs::remove(asset);
    fs::create_hard_link(outside / "secret.txt", asset);

    plat::LogCapture log;
    const auto got = fetch(*bob->publicCloudDatabase(), {id});
    EXPECT_FALSE(got.records.count(id));
    EXPECT_FALSE(anyFileHolds(cache_, secret));
    EXPECT_TRUE(log.contains("has other hard links"));
}

// A valid record file padded with blanks to `size` bytes.
void padTo(const fs::path& p, std::uintmax_t size) {
    auto bytes = plat::readWholeFile(p).value_or("");
    ASSERT_LE(bytes.size(), size);
    bytes.append(size - bytes.size(), ' ');
    ASSERT_TRUE(plat::writeFileAtomically(p, bytes));
}

TEST_F(SharedFolderTest, OversizedFilesAreSkippedBeforeTheyAreRead) {
    auto alice = open("alice");
    auto db = alice->publicCloudDatabase();
    std::vector<Record> records;
    for (const char* name : {"at the limit", "one byte over", "sparse 400 MB", "good"})
        records.push_back(table(name, 0, file("t.txt", "rows")));
    ASSERT_FALSE(save(*db, records).error);
    const fs::path folder = store_ / "iCloud.test" / "Public" / "Records" / "MainCodeTables";
    auto recordFile = [&](std::size_t i) { return folder / (records[i].recordID().recordName + ".plist"); };
    padTo(recordFile(0), kMaxRecordFileBytes);
    padTo(recordFile(1), kMaxRecordFileBytes + 1);
    ASSERT_EQ(::truncate(recordFile(2).c_str(), 400ll << 20), 0); // sparse: no disk, no time

    plat::LogCapture log;
    const auto list = query(*db, {"MainCodeTables", {}}, std::vector<std::string>{"Name"}, 10);
    ASSERT_FALSE(list.error);
    std::set<std::string> names;
    for (const auto& r : list.records) names.insert(r.stringForKey("Name").value_or(""));
    EXPECT_EQ(names, (std::set<std::string>{"at the limit", "good"}));
    EXPECT_TRUE(log.contains("is too large"));
    EXPECT_TRUE(fetch(*db, {records[2].recordID()}).recordErrors.count(records[2].recordID()));

    // An asset larger than the limit is neither fetched nor stored.
    const fs::path assets = store_ / "iCloud.test" / "Public" / "Assets" / records[3].recordID().recordName;
    const fs::path stored = fs::directory_iterator(assets)->path();
    ASSERT_EQ(::truncate(stored.c_str(), static_cast<off_t>(kMaxAssetBytes + 1)), 0);
    const auto big = fetch(*db, {records[3].recordID()});
    EXPECT_TRUE(big.recordErrors.count(records[3].recordID()));
    EXPECT_TRUE(fs::is_empty(cache_));

    const fs::path upload = files_ / "huge.txt";
    ASSERT_TRUE(plat::writeFileAtomically(upload, "x"));
    ASSERT_EQ(::truncate(upload.c_str(), static_cast<off_t>(kMaxAssetBytes + 1)), 0);
    const Record huge = table("huge", 0, upload);
    const auto refused = save(*db, {huge});
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, ErrorCode::LimitExceeded);
    EXPECT_TRUE(describe(*refused.error).starts_with("文件过大")) << describe(*refused.error);
    EXPECT_FALSE(fs::exists(store_ / "iCloud.test" / "Public" / "Assets" / huge.recordID().recordName) &&
                 !fs::is_empty(store_ / "iCloud.test" / "Public" / "Assets" / huge.recordID().recordName));
}

} // namespace
