// The engine's user-data folder with hostile files, links and notes planted
// in it: what the engine cannot use is set aside in the folder, the user is
// told once, and nothing outside the folder is read, written or removed.
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/SunPinyin/ModelHistory.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"
#include "support/ChildProcess.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using plat::SunpinyinSetAside;
using Reason = SunpinyinSetAside::Reason;

// The bytes of a regular file; nothing for anything else.
std::optional<std::string> slurp(const fs::path& p) { return plat::readWholeFile(p); }

void spit(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

mode_t modeOf(const fs::path& p)
{
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Every entry beneath `root`, links not followed: kind, mode, size, link
// target and a hash of the content.
std::map<std::string, std::string> listing(const fs::path& root)
{
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
        if (S_ISLNK(st.st_mode))
            what += " -> " + fs::read_symlink(entry.path()).string();
        else if (S_ISREG(st.st_mode))
            what += " #" + std::to_string(std::hash<std::string>{}(slurp(entry.path()).value_or("?")));
        out[fs::relative(entry.path(), root).string()] = what;
    }
    return out;
}

// Sets the access time of every regular file beneath `root` before its
// modification time, so that any read of it moves the access time on.
std::map<std::string, long long> ageAccessTimes(const fs::path& root)
{
    std::map<std::string, long long> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const timespec times[2] = {{st.st_mtim.tv_sec - 3600, 0}, {0, UTIME_OMIT}};
        ::utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW);
        out[entry.path().string()] = st.st_mtim.tv_sec - 3600;
    }
    return out;
}

std::map<std::string, long long> accessTimes(const std::map<std::string, long long>& files)
{
    std::map<std::string, long long> out;
    for (const auto& [path, _] : files) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        out[path] = st.st_atim.tv_sec;
    }
    return out;
}

// A home with the programs' per-user folder and, beside it, what is the
// user's own: an autostart folder, a file open to all and a folder.
struct Home {
    fs::path root = taviro::test::freshDir("sunpinyin-home");
    fs::path dataHome = root / "data";
    fs::path perUser = dataHome / "TaviroMac";
    fs::path folder = perUser / "sunpinyin";
    fs::path outside = root / "outside";
    fs::path victim = outside / "victim";

    Home()
    {
        fs::create_directories(outside / ".config/autostart");
        spit(victim, "a/b\n");
        ::chmod(victim.c_str(), 0666);
        spit(outside / "victim-dir/history", "theirs");
        fs::create_directories(folder);
    }
};

// Watches what is outside the per-user folder while the engine starts.
class Outside {
public:
    explicit Outside(const fs::path& root) : root_(root), before_(listing(root)), aged_(ageAccessTimes(root)) {}
    void expectUntouched(const std::string& name)
    {
        EXPECT_EQ(accessTimes(aged_), aged_) << name << ": a file outside was read";
        EXPECT_EQ(listing(root_), before_) << name << ": something outside was made, changed or removed";
        aged_ = ageAccessTimes(root_);  // the listing read them
    }

private:
    fs::path root_;
    std::map<std::string, std::string> before_;
    std::map<std::string, long long> aged_;
};

fs::path modelDir() { return plat::SunpinyinWrapper::defaultModelDirectory(); }

// A user dictionary of the engine's form holding one word, 0644.
void makeWordDatabase(const fs::path& file)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    std::string columns;
    for (const char* c : {"i", "f", "t"})
        for (int i = 0; i < 6; ++i)
            columns += std::string(c) + std::to_string(i) + " INTEGER, ";
    const std::string sql = "CREATE TABLE dict(id INTEGER PRIMARY KEY, len INTEGER, " + columns +
                            "utf8str TEXT, UNIQUE (i0, i1, i2, i3, i4, i5, utf8str));"
                            "INSERT INTO dict(len, i0, f0, i1, f1, utf8str) VALUES (2, 1, 2, 3, 4, '我的词');";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    ::chmod(file.c_str(), 0644);
}

// What identifies a file's content on disk: inode, size, change and modification times.
std::string stamp(const fs::path& file)
{
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return "missing";
    return std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
           "." + std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
           std::to_string(st.st_ctim.tv_nsec);
}

std::size_t noticesIn(const std::string& out)
{
    std::size_t notices = 0;
    for (std::size_t at = out.find("notice: "); at != std::string::npos; at = out.find("notice: ", at + 1))
        ++notices;
    return notices;
}

class SunpinyinFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(modelDir() / "lm_sc.t3g"))
            GTEST_SKIP() << "no SunPinyin model in " << modelDir();
        identity_ = plat::sunpinyinModelIdentity(modelDir());
        ASSERT_TRUE(plat::isSunpinyinModelIdentity(identity_)) << identity_;
        oldMask_ = ::umask(022);
    }
    void TearDown() override { ::umask(oldMask_); }

    std::string identity_;
    mode_t oldMask_ = 022;
};

struct Told {
    std::string name;
    Reason reason;
    bool operator==(const Told&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Told& t)
{
    return out << t.name << " (" << static_cast<int>(t.reason) << ")";
}

TEST_F(SunpinyinFolderTest, WhatTheEngineCannotUseIsSetAsideAndNothingOutsideIsTouched)
{
    const std::string other = "1-2-0123456789abcdef";
    struct Case {
        const char* name;
        std::function<void(const Home&, const std::string& identity)> plant;
        std::vector<Told> told;
        std::function<void(const Home&, const std::string& identity)> check;
    } cases[] = {
        {"a note that names a path out of the folder",
         [](const Home& h, const std::string&) {
             spit(h.folder / "model", "x/../../../../outside/.config/autostart/evil.desktop\n");
             fs::create_directories(h.folder / "history-x");
             spit(h.folder / "history", "mine");
         },
         {{"history", Reason::unknownNote}},
         [](const Home& h, const std::string&) {
             EXPECT_EQ(slurp(h.folder / "history-unknown"), "mine");
             EXPECT_FALSE(fs::exists(h.folder / "history"));
         }},
        {"a note that is a link to a file with a slash",
         [](const Home& h, const std::string&) {
             fs::create_symlink(h.victim, h.folder / "model");
             spit(h.folder / "history", "mine");
         },
         {{"model", Reason::link}, {"history", Reason::unknownNote}},
         [](const Home& h, const std::string&) { EXPECT_EQ(slurp(h.folder / "history-unknown"), "mine"); }},
        {"a note of 210 MB",
         [](const Home& h, const std::string&) {
             spit(h.folder / "model", "");
             fs::resize_file(h.folder / "model", std::uintmax_t{210} << 20);
             spit(h.folder / "history", "mine");
         },
         {{"model", Reason::tooLarge}, {"history", Reason::unknownNote}},
         [](const Home& h, const std::string&) { EXPECT_EQ(slurp(h.folder / "history-unknown"), "mine"); }},
        {"a note that is a FIFO",
         [](const Home& h, const std::string&) { ::mkfifo((h.folder / "model").c_str(), 0600); },
         {{"model", Reason::notAFile}},
         nullptr},
        {"a history that is a FIFO",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             ::mkfifo((h.folder / "history").c_str(), 0600);
         },
         {{"history", Reason::notAFile}},
         nullptr},
        {"a history that is a link",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             fs::create_symlink(h.victim, h.folder / "history");
         },
         {{"history", Reason::link}},
         nullptr},
        {"a history of 2 MiB",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             spit(h.folder / "history", "");
             fs::resize_file(h.folder / "history", std::uintmax_t{2} << 20);
         },
         {{"history", Reason::tooLarge}},
         nullptr},
        {"the kept history of this model is a FIFO",
         [other](const Home& h, const std::string& id) {
             spit(h.folder / "model", other + "\n");
             spit(h.folder / "history", "theirs");
             ::mkfifo((h.folder / ("history-" + id)).c_str(), 0600);
         },
         {{"history-" + std::string("<identity>"), Reason::notAFile}},
         [other](const Home& h, const std::string&) {
             EXPECT_EQ(slurp(h.folder / ("history-" + other)), "theirs");
             EXPECT_FALSE(fs::exists(h.folder / "history"));
         }},
        {"a user dictionary that is a link",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             fs::create_symlink(h.victim, h.folder / "userdict");
         },
         {{"userdict", Reason::link}},
         nullptr},
        {"the folder is a link to another folder",
         [](const Home& h, const std::string&) {
             fs::remove_all(h.folder);
             fs::create_directory_symlink(h.outside / "victim-dir", h.folder);
         },
         {{"sunpinyin", Reason::link}},
         [](const Home& h, const std::string&) {
             EXPECT_TRUE(fs::is_directory(fs::symlink_status(h.folder)));
             EXPECT_EQ(modeOf(h.folder), 0700u);
         }},
        {"the folder is a file",
         [](const Home& h, const std::string&) {
             fs::remove_all(h.folder);
             spit(h.folder, "not a folder");
         },
         {{"sunpinyin", Reason::notAFolder}},
         [](const Home& h, const std::string&) { EXPECT_TRUE(fs::is_directory(fs::symlink_status(h.folder))); }},
        {"the model stamp is a link to a file open to all",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             fs::create_symlink(h.victim, h.folder / "model-stamp");
         },
         {},
         [](const Home& h, const std::string&) {
             EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(h.folder / "model-stamp")));
             EXPECT_EQ(modeOf(h.folder / "model-stamp"), 0644u);
         }},
        {"a user dictionary that is another name of a file outside",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             fs::create_hard_link(h.victim, h.folder / "userdict");
         },
         {{"userdict", Reason::hardLink}},
         nullptr},
        {"a user dictionary that is a link to nowhere outside",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             fs::create_symlink(h.outside / "made-by-the-engine.db", h.folder / "userdict");
         },
         {{"userdict", Reason::link}},
         nullptr},
        {"a history that is another name of a file outside",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             fs::create_hard_link(h.victim, h.folder / "history");
         },
         {{"history", Reason::hardLink}},
         nullptr},
        {"a user dictionary an earlier version left open to others",
         [](const Home& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             spit(h.folder / "userdict", "");
             ::chmod((h.folder / "userdict").c_str(), 0644);
         },
         {},
         nullptr},
    };
    for (const auto& c : cases) {
        const Home home;
        c.plant(home, identity_);
        Outside outside(home.outside);
        plat::LogCapture log;

        const auto folder = plat::prepareSunpinyinUserFolder(home.perUser, modelDir());

        EXPECT_EQ(folder.engineDir.empty(), false) << c.name;
        std::vector<Told> told;
        for (const auto& moved : folder.setAside) {
            if (!moved.file.tell())
                continue;
            const std::string name = moved.file.name == "history-" + identity_ ? "history-<identity>" : moved.file.name;
            told.push_back({name, moved.file.reason});
            EXPECT_EQ(moved.folder, moved.file.name == "sunpinyin" ? home.perUser : home.folder) << c.name;
            const fs::path aside = moved.folder / moved.file.aside;
            EXPECT_TRUE(fs::exists(fs::symlink_status(aside))) << c.name << ": " << aside;
            const auto lines = log.lines();
            EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                    [&](const std::string& line) { return line.find(aside.string()) != std::string::npos; }),
                      1)
                << c.name << ": the log says once where " << moved.file.name << " is";
        }
        EXPECT_EQ(told, c.told) << c.name;
        outside.expectUntouched(c.name);
        if (c.check)
            c.check(home, identity_);
        // What the engine reads is a regular file of its own, private where it holds the user's words.
        EXPECT_EQ(slurp(home.folder / "model"), identity_ + "\n") << c.name;
        EXPECT_EQ(modeOf(home.folder / "userdict"), 0600u) << c.name;
        for (const char* name : {"history", "model", "model-stamp", "userdict"}) {
            const auto status = fs::symlink_status(home.folder / name);
            EXPECT_TRUE(!fs::exists(status) || fs::is_regular_file(status)) << c.name << ": " << name;
        }

        // The next start finds nothing more to set aside.
        log.clear();
        const auto again = plat::prepareSunpinyinUserFolder(home.perUser, modelDir());
        EXPECT_TRUE(std::none_of(again.setAside.begin(), again.setAside.end(),
                                 [](const auto& moved) { return moved.file.tell(); }))
            << c.name;
        EXPECT_FALSE(log.contains("set aside")) << c.name;
        outside.expectUntouched(c.name);
    }
}

// The whole start of the engine in a process of its own, as the input method
// and the console client start it.
TEST_F(SunpinyinFolderTest, TheEngineStartsPastHostileFilesAndTellsOnce)
{
    struct Case {
        const char* name;
        std::function<void(const Home&)> plant;
        std::string aside;  // what the notice names, in the folder
        std::string says = {};  // and why, when it matters
    } cases[] = {
        {"a note that names the autostart folder",
         [](const Home& h) {
             spit(h.folder / "model", "x/../../../../outside/.config/autostart/evil.desktop\n");
             fs::create_directories(h.folder / "history-x");
             spit(h.folder / "history", "[Desktop Entry]\nExec=evil\n");
         },
         "history-unknown"},
        {"a history that is a FIFO",
         [this](const Home& h) {
             spit(h.folder / "model", identity_ + "\n");
             ::mkfifo((h.folder / "history").c_str(), 0600);
         },
         "history.unusable-"},
        {"a user dictionary that is another name of a database outside",
         [this](const Home& h) {
             spit(h.folder / "model", identity_ + "\n");
             makeWordDatabase(h.outside / "words.db");
             fs::create_hard_link(h.outside / "words.db", h.folder / "userdict");
         },
         "userdict.unusable-", "另有硬链接"},
        {"a user dictionary that is a link to a database outside",
         [this](const Home& h) {
             spit(h.folder / "model", identity_ + "\n");
             makeWordDatabase(h.outside / "words.db");
             fs::create_symlink(h.outside / "words.db", h.folder / "userdict");
         },
         "userdict.unusable-"},
        {"a user dictionary that is a link to nowhere outside",
         [this](const Home& h) {
             spit(h.folder / "model", identity_ + "\n");
             fs::create_symlink(h.outside / "words.db", h.folder / "userdict");
         },
         "userdict.unusable-"},
    };
    for (const auto& c : cases) {
        const Home home;
        c.plant(home);
        Outside outside(home.outside);

        taviro::test::ChildProcess child(SUNPINYIN_FOLDER_CHILD, {home.dataHome.string()});
        ASSERT_TRUE(child.started()) << c.name;
        ASSERT_TRUE(child.waitFor("done\n")) << c.name << ": the start waits: " << child.output();
        EXPECT_EQ(child.wait(), 0) << c.name;

        EXPECT_NE(child.output().find("sentence: 你好\n"), std::string::npos) << c.name << ": " << child.output();
        const std::string out = child.output();
        EXPECT_EQ(noticesIn(out), 1u) << c.name << ": " << out;
        EXPECT_NE(out.find((home.folder / c.aside).string()), std::string::npos) << c.name << ": " << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.name << ": " << out;
        EXPECT_TRUE(fs::is_empty(home.outside / ".config/autostart")) << c.name;
        outside.expectUntouched(c.name);
        // The engine's own words are in a file of its own, private.
        struct stat st {};
        ASSERT_EQ(::lstat((home.folder / "userdict").c_str(), &st), 0) << c.name;
        EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_mode & 07777) == 0600) << c.name;

        // A second start has nothing more to say.
        taviro::test::ChildProcess second(SUNPINYIN_FOLDER_CHILD, {home.dataHome.string()});
        ASSERT_TRUE(second.waitFor("done\n")) << c.name;
        EXPECT_EQ(second.output().find("notice: "), std::string::npos) << c.name << ": " << second.output();
        outside.expectUntouched(c.name);
    }
}

// A run that learns nothing leaves the user dictionary as it found it: not
// written back at exit, no journal beside it.
TEST_F(SunpinyinFolderTest, ARunThatLearnsNothingLeavesTheUserDictionaryAsItWas)
{
    const Home home;
    spit(home.folder / "model", identity_ + "\n");
    makeWordDatabase(home.folder / "userdict");
    ::chmod((home.folder / "userdict").c_str(), 0600);
    for (int run = 0; run < 2; ++run) {
        const std::string before = stamp(home.folder / "userdict");
        const auto bytes = slurp(home.folder / "userdict");
        taviro::test::ChildProcess child(SUNPINYIN_FOLDER_CHILD, {home.dataHome.string()});
        ASSERT_TRUE(child.waitFor("done\n")) << child.output();
        ASSERT_EQ(child.wait(), 0);
        EXPECT_NE(child.output().find("sentence: 你好\n"), std::string::npos) << child.output();
        EXPECT_EQ(stamp(home.folder / "userdict"), before) << "run " << run;
        EXPECT_EQ(slurp(home.folder / "userdict"), bytes) << "run " << run;
        EXPECT_FALSE(fs::exists(fs::symlink_status(home.folder / "userdict-journal"))) << "run " << run;
    }
}

// A home in the temporary folder that another account can reach, owned by
// `owner`, removed at the end.
struct ReachableHome {
    fs::path root;
    fs::path dataHome, perUser, folder;
    uid_t owner;

    explicit ReachableHome(uid_t owner) : owner(owner)
    {
        std::string tmpl = (fs::temp_directory_path() / "sunpinyin-account-XXXXXX").string();
        if (::mkdtemp(tmpl.data()))
            root = tmpl;
        dataHome = root / "data";
        perUser = dataHome / "TaviroMac";
        folder = perUser / "sunpinyin";
        fs::create_directories(folder);
        ::chmod(root.c_str(), 0755);
    }
    ~ReachableHome()
    {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(root, ec))
            if (e.is_directory(ec) && !e.is_symlink(ec))
                ::chmod(e.path().c_str(), 0700);
        fs::remove_all(root, ec);
    }
    // Everything made so far becomes the account's.
    void handOver() const
    {
        ASSERT_EQ(::lchown(root.c_str(), owner, owner), 0);
        for (const auto& e : fs::recursive_directory_iterator(root))
            ASSERT_EQ(::lchown(e.path().c_str(), owner, owner), 0);
    }
};

// What an ordinary account meets in its own folder after a careless chmod or
// a restore: the engine starts all the same, from a folder it can use, says
// once what it set aside, and the next start finds nothing to say. Run as
// such an account (tests that run as root drop to "nobody" in the child).
TEST_F(SunpinyinFolderTest, FilesAndFoldersThisAccountCannotUseAreSetAsideOnceAndSentencesWork)
{
    const uid_t nobody = 65534;
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        std::function<void(const ReachableHome&, const std::string& identity)> plant;
        std::string told;  // what the one notice of the first start names, in the per-user folder
        std::string says;  // and why
        std::function<void(const ReachableHome&)> check;
    } cases[] = {
        {"the folder cannot be opened", [](const ReachableHome& h, const std::string&) { ::chmod(h.folder.c_str(), 0); },
         "sunpinyin.unusable-", "无法打开",
         [](const ReachableHome& h) { EXPECT_EQ(modeOf(h.folder), 0700u); }},
        {"the folder can be read but not written",
         [](const ReachableHome& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             ::chmod(h.folder.c_str(), 0500);
         },
         "sunpinyin.unusable-", "无法打开", nullptr},
        {"the folder is a file",
         [](const ReachableHome& h, const std::string&) {
             fs::remove_all(h.folder);
             spit(h.folder, "not a folder");
         },
         "sunpinyin.unusable-", "不是文件夹", nullptr},
        {"the model note cannot be opened",
         [](const ReachableHome& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             ::chmod((h.folder / "model").c_str(), 0);
             spit(h.folder / "history", "mine");
         },
         "sunpinyin/history-unknown", "所属模型无法识别",
         [](const ReachableHome& h) {
             EXPECT_EQ(modeOf(h.folder / "model"), 0644u);
             EXPECT_EQ(slurp(h.folder / "history-unknown"), "mine");
         }},
        {"the model stamp cannot be opened",
         [](const ReachableHome& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             spit(h.folder / "model-stamp", "");
             ::chmod((h.folder / "model-stamp").c_str(), 0);
         },
         "", "", [](const ReachableHome& h) { EXPECT_EQ(modeOf(h.folder / "model-stamp"), 0644u); }},
        {"the user dictionary cannot be opened",
         [](const ReachableHome& h, const std::string& id) {
             spit(h.folder / "model", id + "\n");
             makeWordDatabase(h.folder / "userdict");
             ::chmod((h.folder / "userdict").c_str(), 0);
         },
         "sunpinyin/userdict.unusable-", "无法打开",
         [](const ReachableHome& h) { EXPECT_EQ(modeOf(h.folder / "userdict"), 0600u); }},
    };
    for (const auto& c : cases) {
        const ReachableHome home(root ? nobody : ::geteuid());
        c.plant(home, identity_);
        home.handOver();
        std::vector<std::string> args{home.dataHome.string(), "women"};
        if (root)
            args.push_back(std::to_string(nobody));

        taviro::test::ChildProcess first(SUNPINYIN_FOLDER_CHILD, args);
        ASSERT_TRUE(first.waitFor("done\n")) << c.name << ": " << first.output();
        EXPECT_EQ(first.wait(), 0) << c.name;
        const std::string out = first.output();
        EXPECT_NE(out.find("sentence: 我们\n"), std::string::npos) << c.name << ": " << out;
        EXPECT_EQ(noticesIn(out), c.told.empty() ? 0u : 1u) << c.name << ": " << out;
        if (!c.told.empty()) {
            EXPECT_NE(out.find((home.perUser / c.told).string()), std::string::npos) << c.name << ": " << out;
            EXPECT_NE(out.find(c.says), std::string::npos) << c.name << ": " << out;
        }
        if (c.check)
            c.check(home);
        const std::string stampBefore = stamp(home.folder / "model-stamp");

        // The next start finds a folder it can use and nothing to say, and
        // takes the model's identity from the stamp without writing it again.
        taviro::test::ChildProcess second(SUNPINYIN_FOLDER_CHILD, args);
        ASSERT_TRUE(second.waitFor("done\n")) << c.name << ": " << second.output();
        EXPECT_NE(second.output().find("sentence: 我们\n"), std::string::npos) << c.name << ": " << second.output();
        EXPECT_EQ(noticesIn(second.output()), 0u) << c.name << ": " << second.output();
        EXPECT_EQ(stamp(home.folder / "model-stamp"), stampBefore) << c.name;
    }
}

#ifdef TAVIRO_TYPE_PATH
// Runs the console client in `home` as `account` (when the tests run as
// root) and gives back all it wrote, both streams; bounded by timeout(1).
std::string typeAs(uid_t account, const fs::path& home, const std::string& keys)
{
    int out[2];
    if (::pipe(out) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(account) != 0 || ::setuid(account) != 0))
            ::_exit(90);
        ::prctl(PR_SET_DUMPABLE, 1);
        const std::string h = home.string();
        ::setenv("HOME", h.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (h + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (h + "/config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (h + "/cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (h + "/run").c_str(), 1);
        ::execlp("timeout", "timeout", "120", TAVIRO_TYPE_PATH, keys.c_str(), static_cast<char*>(nullptr));
        ::_exit(91);
    }
    ::close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return text;
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The console client of an account whose SunPinyin folder it cannot open
// types sentences, and says once where the folder went.
TEST_F(SunpinyinFolderTest, TheConsoleClientTypesSentencesPastAFolderItCannotOpen)
{
    const uid_t account = ::geteuid() == 0 ? 65534 : ::geteuid();
    const ReachableHome home(account);
    ::chmod(home.folder.c_str(), 0);
    home.handOver();

    const std::string first = typeAs(account, home.root, "women ");
    EXPECT_EQ(count(first, "我们\n"), 1u) << first;
    EXPECT_EQ(count(first, home.folder.string() + " set aside as " + home.folder.string() + ".unusable-"), 1u) << first;
    EXPECT_EQ(modeOf(home.folder), 0700u);
    // The console shows the user's notice too, once.
    EXPECT_EQ(count(first, "taviro-type: 整句输入的数据文件已移开"), 1u) << first;

    const std::string second = typeAs(account, home.root, "women ");
    EXPECT_EQ(count(second, "我们\n"), 1u) << second;
    EXPECT_EQ(count(second, "整句输入"), 0u) << second;
    EXPECT_EQ(count(second, "set aside"), 0u) << second;
}
#endif

} // namespace
