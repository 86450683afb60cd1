#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Platform/Foundation/TemporaryFiles.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace plat {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::string read(const fs::path& p) { return readWholeFile(p).value_or("<missing>"); }

std::string atomicTemp(std::string_view target, std::string_view suffix = "Ab12cd") {
    return temporaryFileName(target, TemporaryKind::AtomicWrite, suffix);
}
std::string rebuildTemp(std::string_view target, std::string_view suffix = "x9Y8z7") {
    return temporaryFileName(target, TemporaryKind::Rebuild, suffix);
}

TEST(TemporaryFiles, NamesOfTemporaries) {
    struct Case {
        std::string name;
        std::optional<TemporaryKind> kind;
        const char* target;
    };
    const Case cases[] = {
        {".config.plist~taviro-tmp~Ab12cd", TemporaryKind::AtomicWrite, "config.plist"},
        {".PunctuationMapping.plist~taviro-tmp~0123456789abcdef", TemporaryKind::AtomicWrite,
         "PunctuationMapping.plist"},
        {".custom.db~taviro-tmp~abcdefghij-journal", TemporaryKind::AtomicWrite, "custom.db"},
        {".custom.db~taviro-new~123456", TemporaryKind::Rebuild, "custom.db"},
        {"..custom.db~taviro-new~abcdef-wal", TemporaryKind::Rebuild, ".custom.db"},
        {".mainCodeTable.database~taviro-new~ABCDEF-shm", TemporaryKind::Rebuild, "mainCodeTable.database"},
        // A rebuild of a staged database.
        {"..assist.database~taviro-tmp~abcdef~taviro-new~ghijkl", TemporaryKind::Rebuild,
         ".assist.database~taviro-tmp~abcdef"},
        {atomicTemp("小鹤.plist", "XXXXXX"), TemporaryKind::AtomicWrite, "小鹤.plist"},
        {"config.plist", std::nullopt, ""},
        {".config.plist~taviro-tmp~abc", std::nullopt, ""},                // too short a suffix
        {".config.plist~taviro-tmp~0123456789abcdefg", std::nullopt, ""},  // too long
        {".config.plist~taviro-tmp~ab-cdef", std::nullopt, ""},            // not letters or digits
        {".~taviro-tmp~abcdef", std::nullopt, ""},                         // no target
        {"config.plist~taviro-tmp~abcdef", std::nullopt, ""},              // no leading dot
        // Users' own names, and what earlier versions wrote: nothing tells them apart.
        {"notes.new-2024-06", std::nullopt, ""},
        {"mytable.new-20240601-1", std::nullopt, ""},
        {"photo.jpg.new-1-2", std::nullopt, ""},
        {".draft.txt.tmp.backup1", std::nullopt, ""},
        {".plan.txt.tmp.version2", std::nullopt, ""},
        {".config.plist.tmp.Ab12cd", std::nullopt, ""},
        {"custom.db.new-12-3-wal", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto t = parseTemporaryName(c.name);
        ASSERT_EQ(t.has_value(), c.kind.has_value());
        if (!t) continue;
        EXPECT_EQ(t->kind, *c.kind);
        EXPECT_EQ(t->target, c.target);
    }
}

// The names each writer creates beside its target, seen as they appear in the folder.
class CreatedNames {
public:
    explicit CreatedNames(const fs::path& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO);
    }
    ~CreatedNames() { ::close(fd_); }
    std::set<std::string> take() {
        std::set<std::string> out;
        alignas(inotify_event) char buf[1 << 16];
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;)
            for (char* p = buf; p < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                if (e->len) out.insert(e->name);
                p += sizeof(inotify_event) + e->len;
            }
        return out;
    }

private:
    int fd_;
};

TEST(TemporaryFiles, EveryWriterMarksItsTemporaries) {
    const fs::path dir = taviro::test::freshDir("writers");
    CreatedNames seen(dir);
    auto temporariesOf = [&](const std::string& target) {
        std::set<std::string> temps;
        for (const auto& name : seen.take()) {
            if (name == target) continue;
            const auto t = parseTemporaryName(name);
            EXPECT_TRUE(t && t->target == target && t->kind == TemporaryKind::AtomicWrite) << name;
            temps.insert(name);
        }
        return temps;
    };

    ASSERT_TRUE(writeFileAtomically(dir / "config.plist", "x"));
    EXPECT_EQ(temporariesOf("config.plist").size(), 1u);

    ASSERT_TRUE(FileManager::copyItem(dir / "config.plist", dir / "silence.plist", true));
    EXPECT_EQ(temporariesOf("silence.plist").size(), 1u);

    auto j = ReplaceJournal::begin(dir, dir);
    ASSERT_TRUE(j);
    seen.take();
    ASSERT_TRUE(j->stage(dir / "spScheme.plist", "y"));
    // The staged file and the journal's own temporary.
    std::set<std::string> targets;
    for (const auto& name : seen.take())
        if (const auto t = parseTemporaryName(name)) targets.insert(t->target);
        else EXPECT_EQ(name, ReplaceJournal::journalPath(dir).filename()) << name;
    EXPECT_EQ(targets, (std::set<std::string>{"spScheme.plist", ".replace-journal.plist"}));
    ASSERT_TRUE(j->commit());
    EXPECT_EQ(read(dir / "spScheme.plist"), "y");
}

// Runs `body` in a child process in `folder` as an ordinary user: as "nobody" when the
// tests run as root (root opens every file), else as is. Returns the child's exit status.
int asOrdinaryUser(const fs::path& folder, const std::function<void()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(91);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(90);
        body();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    return status;
}

// Both programs' clean-up at start: only the programs' own abandoned temporaries go.
TEST(TemporaryFiles, TheCleanUpAtStartTakesOnlyAbandonedTemporariesOfThePrograms) {
    const fs::path home = taviro::test::freshDir("cleanup");
    const fs::path perUser = home / "TaviroMac", user = home / "塔维输入法";
    const bool root = ::geteuid() == 0;
    const uid_t owner = root ? kNobody : ::geteuid();
    for (const fs::path& f : {perUser, user, user / "AssistCodes", user / "BootButtons", user / "KeyMaps"})
        fs::create_directories(f);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);

    enum What { Stays, Goes };
    struct Case {
        fs::path path;
        What what;
        const char* why;
    };
    std::vector<Case> cases;
    auto userFiles = [&](const fs::path& f) {
        for (const char* name : {"notes.new-2024-06", "mytable.new-20240601-1", "photo.jpg.new-1-2",
                                 ".draft.txt.tmp.backup1", ".plan.txt.tmp.version2", "wubi.txt", "notes.md"})
            cases.push_back({f / name, Stays, "the user's own file"});
    };
    for (const fs::path& f : {perUser, user, user / "AssistCodes", user / "BootButtons", user / "KeyMaps"})
        userFiles(f);
    cases.insert(cases.end(), {
        {perUser / ".config.plist.tmp.Ab12cd", Stays, "an earlier version's name"},
        {perUser / "custom.db.new-1-2", Stays, "an earlier version's name"},
        {perUser / atomicTemp("notes.md"), Stays, "marked, but the programs write no such file there"},
        {user / atomicTemp("config.plist"), Stays, "marked, but for a file of another folder"},
        {perUser / atomicTemp("spScheme.plist", "young1"), Stays, "a writer at work"},
        {perUser / atomicTemp("silence.plist", "HeLd01"), Stays, "held by another process"},
        {perUser / atomicTemp("config.plist"), Goes, "an abandoned atomic write"},
        {perUser / atomicTemp("UserDefaults.plist", "0123456789abcdef"), Goes, "an abandoned atomic write"},
        {perUser / atomicTemp("mainCodeTable.database", "StAgEd"), Goes, "an abandoned staged file"},
        {perUser / (atomicTemp("mainCodeTable.database", "StAgEd") + "-journal"), Goes, "its companion"},
        {perUser / rebuildTemp("custom.db"), Goes, "an abandoned rebuild"},
        {perUser / (rebuildTemp("custom.db") + "-wal"), Goes, "its companion"},
        {perUser / (rebuildTemp("user.db", "ghost1") + "-shm"), Goes, "a companion whose temporary is gone"},
        {user / atomicTemp("wubi.txt"), Goes, "an abandoned copy of a table"},
        {user / atomicTemp("wubi.txt.bak"), Goes, "an abandoned copy of a table"},
        {user / "AssistCodes" / atomicTemp("形码.txt"), Goes, "an abandoned assist table"},
        {user / "BootButtons" / atomicTemp("BootButtons.plist"), Goes, "an abandoned guide-button table"},
        {user / "KeyMaps" / atomicTemp("小鹤.plist"), Goes, "an abandoned scheme"},
    });
    for (const auto& c : cases) {
        ASSERT_TRUE(writeFileAtomically(c.path, "x"));
        if (c.path.filename().string().find("young1") == std::string::npos) fs::last_write_time(c.path, old);
    }

    // Named as an abandoned temporary, yet not a file to remove.
    const fs::path precious = home / "precious.txt";
    ASSERT_TRUE(writeFileAtomically(precious, "keep"));
    const fs::path linked = perUser / atomicTemp("user.db", "link01");
    fs::create_symlink(precious, linked);
    const fs::path folder = user / "KeyMaps" / atomicTemp("自然码.plist", "folder");
    fs::create_directories(folder / "inside");
    const fs::path twoNames = user / atomicTemp("x.txt", "hard01");
    fs::create_hard_link(precious, twoNames);
    const fs::path unreadable = perUser / atomicTemp("keys.db", "NoRead");
    ASSERT_TRUE(writeFileAtomically(unreadable, "x"));
    fs::last_write_time(unreadable, old);
    fs::permissions(unreadable, fs::perms::none);
    // A socket cannot be opened at all.
    const fs::path socketPath = perUser / atomicTemp("think.db", "sOcKet");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.string().size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(sock);
    cases.insert(cases.end(), {{linked, Stays, "a link"},
                               {folder, Stays, "a folder"},
                               {twoNames, Stays, "a file with another name too"},
                               {unreadable, Stays, "a file that cannot be opened"},
                               {socketPath, Stays, "a socket"}});
    // The files are the user's; when the tests run as root, one of them is root's: another
    // account's file in a shared folder.
    fs::path othersFile;
    ASSERT_EQ(::lchown(home.c_str(), owner, owner), 0);
    for (const auto& e : fs::recursive_directory_iterator(home)) ASSERT_EQ(::lchown(e.path().c_str(), owner, owner), 0);
    if (root) {
        othersFile = perUser / atomicTemp("extended.db", "Others");
        ASSERT_TRUE(writeFileAtomically(othersFile, "x"));
        fs::last_write_time(othersFile, old);
        cases.push_back({othersFile, Stays, "another account's file"});
    }

    // Held by a writer at work in another process.
    const fs::path held = perUser / atomicTemp("silence.plist", "HeLd01");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(held.c_str(), O_RDONLY);
        ::flock(fd, LOCK_EX);
        (void)!::write(ready[1], "r", 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);

    // The test home is reached through folders of the account that runs the tests.
    const int status = asOrdinaryUser(home, [&] { recoverAtStart("TaviroMac", "塔维输入法"); });
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    for (const auto& k : cases)
        EXPECT_EQ(fs::exists(fs::symlink_status(k.path)), k.what == Stays) << k.path << ": " << k.why;
    EXPECT_EQ(read(precious), "keep");
    EXPECT_TRUE(fs::exists(folder / "inside"));
}

} // namespace
} // namespace plat
