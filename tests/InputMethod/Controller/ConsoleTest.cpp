// The console client as a user runs it: from the build tree, on the test's
// fresh home, through the real server, controller, engine and data.
#ifdef TAVIRO_TYPE_PATH
#include <gtest/gtest.h>

#include "support/TestHome.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace taviro::test {
namespace {

struct ProgramRun {
    int status = -1;
    std::string out;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the program; with `home`, the program's home and data folders lie there.
ProgramRun run(const std::vector<std::string>& args, const std::string& input = {},
               const std::optional<std::filesystem::path>& home = std::nullopt) {
    std::string env;
    if (home) {
        const std::string h = home->string();
        env = "HOME=" + quoted(h) + " XDG_DATA_HOME=" + quoted(h + "/data") + " XDG_CONFIG_HOME=" +
              quoted(h + "/config") + " XDG_CACHE_HOME=" + quoted(h + "/cache") + " ";
    }
    // Bounded: a program that hangs fails the test with status 124.
    std::string command = "printf '%s' " + quoted(input) + " | " + env + "timeout 120 " + quoted(TAVIRO_TYPE_PATH);
    for (const auto& a : args) command += " " + quoted(a);
    command += " 2>/dev/null";
    ProgramRun r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(Console, PrintsTheCommittedText) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"nihao "}, "", 0, "你好\n"},
        {{}, "nihao \n;h\nabc{Return}\n", 0, "你好\n《》\nabc\n"},
        {{"{Nope}"}, "", 1, ""},
        {{"--bogus"}, "", 2, ""},
    };
    for (const auto& c : cases) {
        // Each run in a home of its own: this test process may hold the shared
        // home's store open, and the child would wait on its locks.
        const ProgramRun r = run(c.args, c.input, freshDir("console"));
        EXPECT_EQ(r.status, c.status) << c.input;
        EXPECT_EQ(r.out, c.out) << c.input;
    }
}

TEST(Console, TraceShowsTheMarkedTextAndThePageAfterEachKey) {
    const ProgramRun r = run({"--trace", "zhongguoren "}, {}, freshDir("console-trace"));
    ASSERT_EQ(r.status, 0);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 13u);  // eleven letters, the space, the committed text
    EXPECT_EQ(out[0].rfind("z\tz\t", 0), 0u) << out[0];
    EXPECT_EQ(out[10].rfind("n\tzhongguoren\t[1.", 0), 0u) << out[10];
    EXPECT_NE(out[10].find("中国人"), std::string::npos) << out[10];
    EXPECT_EQ(out[11], "{Space}\t\t");
    EXPECT_EQ(out[12], "中国人");
}

TEST(Console, AWordChosenInOneRunLeadsInTheNext) {
    // A home of its own: this test process may hold the shared home's store open.
    const auto home = freshDir("console-learning");
    const ProgramRun first = run({"shi5"}, {}, home);  // the fifth candidate of "shi"
    ASSERT_EQ(first.status, 0);
    const auto chosen = lines(first.out);
    ASSERT_EQ(chosen.size(), 1u);
    ASSERT_FALSE(chosen[0].empty());
    for (const char* side : {"user.db-journal", "user.db-wal"})
        EXPECT_FALSE(std::filesystem::exists(home / "data" / "TaviroMac" / side)) << side;

    const ProgramRun second = run({"--trace", "shi"}, {}, home);
    ASSERT_EQ(second.status, 0);
    const auto out = lines(second.out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2].rfind("i\tshi\t[1." + chosen[0] + "]", 0), 0u) << out[2];
}

TEST(Console, HelpListsTheEscapes) {
    const ProgramRun r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* escape : {"{Left}", "{PageDown}", "{Shift}", "{Ctrl}", "{C-x}", "{BS}", "{Esc}"})
        EXPECT_NE(r.out.find(escape), std::string::npos) << escape;
}

// Nothing at a database path may stop start-up: a FIFO is not opened.
TEST(Console, AFifoAtADatabasePathDoesNotStopStartUp) {
    for (const char* name : {"custom.db", "user.db-journal"}) {
        const auto home = freshDir("console-fifo");
        const auto folder = home / "data" / "TaviroMac";
        std::filesystem::create_directories(folder);
        ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
        const ProgramRun r = run({"nihao "}, {}, home);
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, "你好\n") << name;
    }
}

// What the user types never goes through a link planted in a database's place:
// the file it leads to (or the missing one it names) stays as it was, over two
// runs, and the link is set aside beside the fresh file.
TEST(Console, LinksInTheDatabasesPlacesAreNeverWrittenThrough) {
    namespace fs = std::filesystem;
    enum Plant { link, dangling, hardLink };
    const char* const kinds[] = {"link", "dangling link", "hard link"};
    for (const char* name : {"user.db", "keys.db", "think.db", "custom.db"}) {
        for (const Plant plant : {link, dangling, hardLink}) {
            const std::string what = std::string(name) + " as a " + kinds[plant];
            SCOPED_TRACE(what);
            const auto home = freshDir("console-link");
            const auto folder = home / "data" / "TaviroMac";
            fs::create_directories(folder);
            const auto outsideDir = freshDir("console-outside");
            const auto outside = outsideDir / "other.db";
            if (plant != dangling) {
                sqlite3* db = nullptr;
                ASSERT_EQ(sqlite3_open(outside.c_str(), &db), SQLITE_OK);
                sqlite3_exec(db, "CREATE TABLE other (x); INSERT INTO other VALUES (1);", nullptr, nullptr, nullptr);
                sqlite3_close(db);
                fs::permissions(outside, fs::perms(0644));
            }
            if (plant == hardLink)
                fs::create_hard_link(outside, folder / name);
            else
                fs::create_symlink(outside, folder / name);
            const auto state = [&] {
                std::ostringstream s;
                for (const auto& e : fs::directory_iterator(outsideDir)) {
                    struct stat st {};
                    ::lstat(e.path().c_str(), &st);
                    std::ifstream in(e.path(), std::ios::binary);
                    s << e.path().filename().string() << ' ' << (st.st_mode & 07777) << ' ' << in.rdbuf() << '\n';
                }
                return s.str();
            };
            const std::string before = state();
            for (int runs = 0; runs < 2; ++runs) {
                const ProgramRun r = run({"nihao ", "zhongguo "}, {}, home);
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.out, "你好\n中国\n");
                EXPECT_EQ(state(), before) << "the outside file changed, run " << runs + 1;
            }
            int aside = 0;
            for (const auto& e : fs::directory_iterator(folder))
                if (e.path().filename().string().rfind(std::string(name) + ".unusable-", 0) == 0) ++aside;
            // A dangling link is set aside too (it may be the user's own, to a file not
            // there yet), and the starting phrases take custom.db's place.
            EXPECT_EQ(aside, 1);
            struct stat st {};
            ASSERT_EQ(::lstat((folder / name).c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_nlink, 1u);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

// Two clients on one per-user folder: neither keeps user.db locked, and every
// commit of both is learnt.
TEST(Console, TwoClientsShareTheFolder) {
    const auto home = freshDir("console-shared");
    std::string input;
    for (int i = 0; i < 20; ++i) input += "nihao \n";
    ProgramRun first, second;
    std::thread other([&] { second = run({}, input, home); });
    first = run({}, input, home);
    other.join();
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(lines(first.out).size(), 20u);
    EXPECT_EQ(lines(second.out).size(), 20u);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home / "data" / "TaviroMac" / "user.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*), sum(Weight) FROM \"Quanpin\" WHERE Word='你好'", -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    // One row: the first commit adds it with weight 0, each later one adds 1.
    EXPECT_EQ(sqlite3_column_int(st, 0), 1);
    EXPECT_EQ(sqlite3_column_int(st, 1), 39);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

} // namespace
} // namespace taviro::test
#endif
