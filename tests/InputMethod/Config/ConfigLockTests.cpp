// The input method's settings while the other program holds the settings lock,
// or its path is taken by something that cannot be locked.
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/UserNotice.h"
#include "InputMethod/Core/SettingsFiles.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualDriver.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Plist.h"
#include "support/BlockedLock.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#ifdef LOCK_HOLDER

namespace taviro {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using plat::PlistValue;
using test::BlockedLock;
using test::LockBlock;

struct Notices : UserNotice {
    std::vector<std::string> posted;
    void post(const std::string& title, const std::string& text) override { posted.push_back(title + ": " + text); }
};

PlistValue fileValue(const fs::path& folder, const char* key) {
    auto file = plat::readPlistFile(folder / "config.plist", PlistValue::Type::Dictionary);
    const PlistValue* value = file ? file->find(key) : nullptr;
    return value ? *value : PlistValue();
}

// Every way the lock can be out of reach: a toggle saved from a key returns at once,
// stays in memory and on top of a reload meanwhile, the user is told once, and the
// change is written as soon as the lock can be had, for the next start to see. The
// other program's edits and whatever sits at the lock's path stay theirs.
TEST(ConfigLock, AToggleSavedWhileTheLockIsOutOfReachIsKeptAndWrittenLater) {
    for (const LockBlock how : {LockBlock::otherProcess, LockBlock::folder, LockBlock::link, LockBlock::unreadable}) {
        SCOPED_TRACE(test::lockBlockName(how));
        const fs::path folder = test::freshDir("config-lock");
        { ConfigManager(folder).saveConfig(); }
        plat::ManualDriver driver(plat::MainQueue::shared());
        ConfigManager config(folder);
        auto notices = std::make_shared<Notices>();
        config.setUserNotice(notices);

        BlockedLock blocked(plat::configLockPath(folder), how, LOCK_HOLDER);
        if (!blocked.ready()) {
            ASSERT_EQ(how, LockBlock::unreadable);
            continue;
        }
        config.update([](Settings& s) { s.s2t = true; });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(config.saveConfig());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
        EXPECT_TRUE(config.settings()->s2t);
        EXPECT_EQ(fileValue(folder, "S2T"), PlistValue(false));

        // The other program wrote meanwhile (replacing the file, as it does) and asked
        // for a reload: its value comes in, the toggle stays.
        auto file = *plat::readPlistFile(folder / "config.plist", PlistValue::Type::Dictionary);
        file["FontSize"] = 24;
        ASSERT_TRUE(plat::writePlistFile(folder / "config.plist", file));
        config.loadConfig();
        EXPECT_TRUE(config.settings()->s2t);
        EXPECT_EQ(config.settings()->fontSize, 24);

        // Still out of reach after the first retries: told once, nothing written.
        driver.advance(1s);
        EXPECT_TRUE(notices->posted.empty());
        driver.advance(20s);
        ASSERT_EQ(notices->posted.size(), 1u);
        EXPECT_EQ(notices->posted[0].rfind("设置未能保存", 0), 0u) << notices->posted[0];
        EXPECT_EQ(fileValue(folder, "S2T"), PlistValue(false));

        blocked.release();
        driver.advance(6s);
        EXPECT_EQ(fileValue(folder, "S2T"), PlistValue(true));
        EXPECT_EQ(fileValue(folder, "FontSize"), PlistValue(24));
        EXPECT_EQ(notices->posted.size(), 1u);
        EXPECT_TRUE(ConfigManager(folder).settings()->s2t);
        if (how == LockBlock::link) {
            EXPECT_EQ(plat::readWholeFile(blocked.linkTarget()), "theirs");
        }

        // A later episode is told again, once.
        BlockedLock again(plat::configLockPath(folder), how, LOCK_HOLDER);
        ASSERT_TRUE(again.ready());
        config.update([](Settings& s) { s.s2t = false; });
        EXPECT_FALSE(config.saveConfig());
        driver.advance(30s);
        EXPECT_EQ(notices->posted.size(), 2u);
        again.release();
        driver.advance(6s);
        EXPECT_EQ(fileValue(folder, "S2T"), PlistValue(false));
    }
}

// A list change waiting for the lock stays on top of a reload, entry by entry: what
// the other program changed in the list meanwhile comes in as well, and both end in
// the file.
TEST(ConfigLock, AListChangeWaitingForTheLockKeepsTheOtherProgramsEntries) {
    const fs::path folder = test::freshDir("config-lock");
    { ConfigManager(folder).saveConfig(); }
    plat::ManualDriver driver(plat::MainQueue::shared());
    ConfigManager config(folder);
    const fs::path silence = folder / silenceFileName();
    BlockedLock blocked(plat::configLockPath(folder), LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    config.update([](Settings& s) { s.silenceDict["org.example.mine"] = "Mine"; });
    EXPECT_FALSE(config.saveConfig());

    auto theirs = *plat::readStringMapFile(silence);
    ASSERT_TRUE(theirs.contains("com.apple.Spotlight"));
    theirs["com.apple.Spotlight"] = "Search";
    theirs["org.example.theirs"] = "Theirs";
    PlistValue file = PlistValue::dictionary();
    for (const auto& [key, value] : theirs) file[key] = value;
    ASSERT_TRUE(plat::writePlistFile(silence, file));
    config.loadConfig();

    StringMap expected = theirs;
    expected["org.example.mine"] = "Mine";
    EXPECT_EQ(config.settings()->silenceDict, expected);
    blocked.release();
    driver.advance(1s);
    EXPECT_EQ(plat::readStringMapFile(silence), expected);
}

// A save with nothing to change takes no lock: it succeeds while the other program
// holds the lock, whichever of the three files has no change.
TEST(ConfigLock, FilesWithoutChangesTakeNoLock) {
    const fs::path folder = test::freshDir("config-lock");
    { ConfigManager(folder).saveConfig(); }
    ConfigManager config(folder);
    BlockedLock blocked(plat::configLockPath(folder), LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(config.saveConfig());
    // A value set back to what the file holds is no change either.
    config.update([](Settings& s) { s.s2t = true; });
    config.update([](Settings& s) { s.s2t = false; });
    EXPECT_TRUE(config.saveConfig());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

// The last write at exit names every file it could not write, each with its own
// cause: the lock held by the other program, or the file's place taken; a file with
// nothing to write is no failure, whatever stands in its place.
TEST(ConfigLock, AtExitEveryUnwrittenFileIsNamedWithItsCause) {
    using Cause = plat::UnwrittenFile::Cause;
    const fs::path folder = test::freshDir("config-lock");
    { ConfigManager(folder).saveConfig(); }
    plat::ManualDriver driver(plat::MainQueue::shared());
    ConfigManager config(folder);
    BlockedLock blocked(plat::configLockPath(folder), LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    // Taken after the load: only a load sets things aside.
    for (const fs::path& file : {folder / silenceFileName(), folder / punctuationMappingFileName()}) {
        fs::remove(file);
        fs::create_directory(file);
    }
    config.update([](Settings& s) {
        s.s2t = !s.s2t;
        s.silenceDict["org.example.mine"] = "Mine";
    });
    EXPECT_FALSE(config.saveConfig());
    plat::LogCapture log;
    EXPECT_FALSE(config.saveBeforeExit(50ms));
    const auto unwritten = config.unwrittenFiles();
    ASSERT_EQ(unwritten.size(), 2u);
    EXPECT_EQ(unwritten[0].name, "config.plist");
    EXPECT_EQ(unwritten[0].cause, Cause::lockHeld);
    EXPECT_EQ(unwritten[1].name, "silence.plist");
    EXPECT_EQ(unwritten[1].cause, Cause::unusable);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("NOT saved"), std::string::npos) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find("config.plist: locked by another program"), std::string::npos) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find("silence.plist: cannot be used"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(log.lines()[0].find("PunctuationMapping.plist"), std::string::npos) << log.lines()[0];
}

} // namespace
} // namespace taviro

#endif
