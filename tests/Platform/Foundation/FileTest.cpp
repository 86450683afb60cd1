#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <unistd.h>
#include <sys/stat.h>
#include <thread>

namespace plat {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& dir) {
    return FileManager::contentsOfDirectory(dir).value_or(std::vector<std::string>{});
}

TEST(AtomicFile, ConcurrentReaderSeesOnlyWholeContents) {
    const auto dir = taviro::test::freshDir("atomic");
    const auto file = dir / "config.plist";
    const std::string a(1 << 20, 'a');
    const std::string b = std::string(1 << 19, 'b') + std::string(1 << 19, 'B') + "tail";
    ASSERT_TRUE(writeFileAtomically(file, a));

    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            auto got = readWholeFile(file);
            if (!got || (*got != a && *got != b)) ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 60; ++i) ASSERT_TRUE(writeFileAtomically(file, i % 2 ? a : b));
    // Let the reader see the final state at least once.
    while (reads.load() < 5) std::this_thread::yield();
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"config.plist"}); // no temporaries left
}

TEST(AtomicFile, MissingFolderFailsCleanly) {
    const auto dir = taviro::test::freshDir("missing");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "nope" / "config.plist", "x", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(FileManager::fileExists(dir / "nope"));
    EXPECT_TRUE(namesIn(dir).empty());
}

TEST(AtomicFile, FailedRenameLeavesTargetAndNoTemporary) {
    const auto dir = taviro::test::freshDir("rename");
    // A non-empty folder where the file should go: rename cannot replace it.
    ASSERT_TRUE(FileManager::createDirectory(dir / "target" / "inner", true));
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "target", "x", &error));
    EXPECT_TRUE(FileManager::isDirectory(dir / "target" / "inner"));
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"target"});
}

TEST(AtomicFile, KeepsTheModeOfTheReplacedFile) {
    const auto dir = taviro::test::freshDir("mode");
    const auto file = dir / "f";
    ASSERT_TRUE(writeFileAtomically(file, "one"));
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(writeFileAtomically(file, "two"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(readWholeFile(file), "two");
}

// A link in the place of the file is replaced by a file of the usual mode:
// its target keeps its bytes and passes on none of its permissions.
TEST(AtomicFile, ReplacesALinkWithoutTakingItsTargetsMode) {
    const auto dir = taviro::test::freshDir("link-mode");
    const mode_t oldMask = ::umask(022);
    std::ofstream(dir / "target") << "theirs";
    ASSERT_EQ(::chmod((dir / "target").c_str(), 0666), 0);
    fs::create_symlink(dir / "target", dir / "f");
    ASSERT_TRUE(writeFileAtomically(dir / "f", "mine"));
    ::umask(oldMask);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "f")));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(readWholeFile(dir / "f"), "mine");
    EXPECT_EQ(readWholeFile(dir / "target"), "theirs");
    ASSERT_EQ(::stat((dir / "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(PrivateFile, OnlyTheOwnersOwnRegularFilesAreMadePrivate) {
    const auto dir = taviro::test::freshDir("private");
    std::ofstream(dir / "target") << "theirs";
    ASSERT_EQ(::chmod((dir / "target").c_str(), 0644), 0);
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> plant;
        bool create;
        bool result;
        mode_t mode;  // of the path afterwards, links not followed; 0 for none
    } cases[] = {
        {"missing, created", [](const fs::path&) {}, true, true, 0600},
        {"missing, not created", [](const fs::path&) {}, false, false, 0},
        {"open to others",
         [](const fs::path& p) {
             std::ofstream(p) << "x";
             ::chmod(p.c_str(), 0664);
         },
         false, true, 0600},
        {"already private",
         [](const fs::path& p) {
             std::ofstream(p) << "x";
             ::chmod(p.c_str(), 0600);
         },
         true, true, 0600},
        {"a link", [&](const fs::path& p) { fs::create_symlink(dir / "target", p); }, true, false, 0777},
        {"a FIFO", [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); }, true, false, 0644},
        {"a folder", [](const fs::path& p) { fs::create_directory(p); ::chmod(p.c_str(), 0755); }, true, false, 0755},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path p = dir / ("f" + std::to_string(n++));
        c.plant(p);
        EXPECT_EQ(makePrivateFile(p, c.create), c.result) << c.name;
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0u, c.mode) << c.name;
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir / "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "a link's target is left alone";
}

TEST(AtomicFile, ReadWholeFileRefusesFoldersAndMissingFiles) {
    const auto dir = taviro::test::freshDir("read");
    EXPECT_FALSE(readWholeFile(dir));
    EXPECT_FALSE(readWholeFile(dir / "none"));
    ASSERT_TRUE(writeFileAtomically(dir / "empty", ""));
    EXPECT_EQ(readWholeFile(dir / "empty"), "");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readWholeFile(dir / "fifo")); // returns at once, no writer needed
    const std::string binary("a\0b\xFF", 4);
    ASSERT_TRUE(writeFileAtomically(dir / "bin", binary));
    EXPECT_EQ(readWholeFile(dir / "bin"), binary);
}

TEST(FolderBeneath, OpensOnlyFoldersReachedWithoutALink) {
    const auto dir = taviro::test::freshDir("beneath");
    fs::create_directories(dir / "real/inner");
    fs::create_directories(dir / "elsewhere/inner");
    fs::create_directory_symlink(dir / "real", dir / "rootlink");
    fs::create_directory_symlink(dir / "elsewhere", dir / "real/linked");
    std::ofstream(dir / "real/file") << "x";
    struct Case {
        fs::path root, rest;
        bool opens;
    } cases[] = {
        {dir / "real", "", true},
        {dir / "real", "inner", true},
        {dir / "rootlink", "inner", true}, // the root itself may be a link
        {dir / "real", "linked", false},
        {dir / "real", "linked/inner", false},
        {dir / "real", "file", false},
        {dir / "real", "inner/../inner", false},
        {dir / "real", "missing", false},
    };
    for (const auto& c : cases) {
        const int fd = openFolderBeneath(c.root, c.rest);
        EXPECT_EQ(fd >= 0, c.opens) << c.root << " + " << c.rest;
        if (fd >= 0) ::close(fd);
    }
}

TEST(FileManager, CopyRefusesToOverwriteUnlessAsked) {
    const auto dir = taviro::test::freshDir("copy");
    ASSERT_TRUE(writeFileAtomically(dir / "src", "new"));
    ASSERT_TRUE(writeFileAtomically(dir / "dst", "old"));

    EXPECT_FALSE(FileManager::copyItem(dir / "src", dir / "dst"));
    EXPECT_EQ(readWholeFile(dir / "dst"), "old");
    EXPECT_TRUE(FileManager::copyItem(dir / "src", dir / "dst", true));
    EXPECT_EQ(readWholeFile(dir / "dst"), "new");
    EXPECT_TRUE(FileManager::copyItem(dir / "src", dir / "fresh"));
    EXPECT_EQ(readWholeFile(dir / "fresh"), "new");
    EXPECT_EQ(readWholeFile(dir / "src"), "new");

    EXPECT_FALSE(FileManager::copyItem(dir / "absent", dir / "x"));
    EXPECT_FALSE(FileManager::copyItem(dir / "src", dir / "no" / "folder"));
    EXPECT_FALSE(FileManager::copyItem(dir / "src", dir / "src", true)); // onto itself
    EXPECT_EQ(readWholeFile(dir / "src"), "new");
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"dst", "fresh", "src"}));
}

TEST(FileManager, CopiesAndMovesFolders) {
    const auto dir = taviro::test::freshDir("folders");
    ASSERT_TRUE(FileManager::createDirectory(dir / "a" / "KeyMaps", true));
    ASSERT_TRUE(writeFileAtomically(dir / "a" / "KeyMaps" / "s.plist", "s"));
    EXPECT_TRUE(FileManager::copyItem(dir / "a", dir / "b"));
    EXPECT_EQ(readWholeFile(dir / "b" / "KeyMaps" / "s.plist"), "s");
    EXPECT_TRUE(FileManager::moveItem(dir / "b", dir / "c"));
    EXPECT_FALSE(FileManager::fileExists(dir / "b"));
    EXPECT_FALSE(FileManager::moveItem(dir / "a", dir / "c"));
    EXPECT_TRUE(FileManager::moveItem(dir / "a", dir / "c", true));
    EXPECT_EQ(namesIn(dir), std::vector<std::string>{"c"});
    EXPECT_TRUE(FileManager::removeItem(dir / "c"));
    EXPECT_FALSE(FileManager::removeItem(dir / "c"));
    EXPECT_TRUE(namesIn(dir).empty());
}

TEST(FileManager, CreateDirectoryRules) {
    const auto dir = taviro::test::freshDir("mkdir");
    EXPECT_FALSE(FileManager::createDirectory(dir / "x" / "y", false)); // parent missing
    EXPECT_TRUE(FileManager::createDirectory(dir / "x" / "y", true));
    EXPECT_TRUE(FileManager::createDirectory(dir / "x" / "y", true)); // already there
    EXPECT_FALSE(FileManager::createDirectory(dir / "x" / "y", false));
    ASSERT_TRUE(writeFileAtomically(dir / "file", ""));
    EXPECT_FALSE(FileManager::createDirectory(dir / "file", true)); // a file is in the way
    EXPECT_TRUE(FileManager::isDirectory(dir / "x"));
    EXPECT_FALSE(FileManager::isDirectory(dir / "file"));
    EXPECT_TRUE(FileManager::isRegularFile(dir / "file"));
    EXPECT_FALSE(FileManager::contentsOfDirectory(dir / "file"));
    EXPECT_FALSE(FileManager::contentsOfDirectory(dir / "none"));
}

TEST(UserDefaults, RemembersBoolsAndKeepsOtherKeys) {
    const auto file = taviro::test::freshDir("defaults") / "sub" / "UserDefaults.plist";
    UserDefaults defaults(file);
    EXPECT_FALSE(defaults.boolForKey("EnMode"));
    EXPECT_TRUE(defaults.setBool("EnMode", true));
    EXPECT_TRUE(defaults.setBool("Other", true));
    EXPECT_TRUE(UserDefaults(file).boolForKey("EnMode"));
    EXPECT_TRUE(defaults.setBool("EnMode", false));
    EXPECT_FALSE(defaults.boolForKey("EnMode"));
    EXPECT_TRUE(defaults.boolForKey("Other"));

    ASSERT_TRUE(writeFileAtomically(file, "garbage"));
    EXPECT_FALSE(defaults.boolForKey("Other"));
    EXPECT_TRUE(defaults.setBool("EnMode", true)); // starts over
    EXPECT_TRUE(defaults.boolForKey("EnMode"));
}

TEST(UserDefaults, SharedLivesInThePerUserFolder) {
    EXPECT_EQ(UserDefaults::shared().filePath(), Paths::perUserFile("UserDefaults.plist"));
}

} // namespace
} // namespace plat
