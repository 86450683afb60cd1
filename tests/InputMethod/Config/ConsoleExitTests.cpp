// The console client ending while a settings change it made waits for the lock
// that another program holds: run as a real child process, on a home of its own.
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Plist.h"
#include "support/BlockedLock.h"
#include "support/ChildProcess.h"
#include "support/SettingsFilePlaces.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if defined(LOCK_HOLDER) && defined(TAVIRO_TYPE_PATH)

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using taviro::test::BlockedLock;
using taviro::test::ChildProcess;
using taviro::test::LockBlock;

// taviro-type on `home`, its standard error merged into its output.
std::unique_ptr<ChildProcess> console(const fs::path& home, const std::vector<std::string>& args = {}) {
    const std::string h = home.string();
    std::vector<std::string> argv{"HOME=" + h, "XDG_DATA_HOME=" + h + "/data", "XDG_CONFIG_HOME=" + h + "/config",
                                  "XDG_CACHE_HOME=" + h + "/cache", "/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1",
                                  TAVIRO_TYPE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>("/usr/bin/env", argv);
}

std::optional<bool> storedS2T(const fs::path& perUser) {
    auto file = plat::readPlistFile(perUser / "config.plist", plat::PlistValue::Type::Dictionary);
    const plat::PlistValue* value = file ? file->find("S2T") : nullptr;
    return value ? value->getBool() : std::nullopt;
}

// ";f" switches traditional output while another process holds the settings lock:
// the save is left to its retries. Whether the lock is let go while the client
// waits for its next line, while it ends (at the end of its input or on SIGTERM),
// or not before its last bounded write gives up, the next start types what the
// file then says, and a change that could not be written is reported, not
// dropped silently.
TEST(ConsoleExit, ASwitchMadeUnderTheLockReachesTheNextStartOrIsReportedLost) {
    enum class LetGo { betweenLines, atExit, atSigterm, never };
    const struct {
        const char* name;
        LetGo letGo;
        const char* nextStart;
    } cases[] = {
        {"let go while the client waits for a line", LetGo::betweenLines, "中國"},
        {"let go while the client ends", LetGo::atExit, "中國"},
        {"let go while the client ends on SIGTERM", LetGo::atSigterm, "中國"},
        {"held past the client's last write", LetGo::never, "中国"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path home = taviro::test::freshDir("console-exit");
        const fs::path perUser = home / "data" / "TaviroMac";
        fs::create_directories(perUser);
        BlockedLock blocked(plat::configLockPath(perUser), LockBlock::otherProcess, LOCK_HOLDER);
        ASSERT_TRUE(blocked.ready());

        auto client = console(home);
        ASSERT_TRUE(client->started());
        client->send(";f");
        ASSERT_TRUE(client->waitFor("(retrying)")) << client->output();
        EXPECT_FALSE(storedS2T(perUser).value_or(false));

        switch (c.letGo) {
        case LetGo::betweenLines: {
            // No line comes: the retries run on their own.
            blocked.release();
            const auto until = std::chrono::steady_clock::now() + 20s;
            while (!storedS2T(perUser).value_or(false) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(20ms);
            EXPECT_EQ(storedS2T(perUser), true) << client->output();
            client->send("zhongguo ");
            EXPECT_TRUE(client->waitFor("中國")) << client->output();
            client->closeInput();
            break;
        }
        case LetGo::atExit:
        case LetGo::atSigterm:
            if (c.letGo == LetGo::atSigterm) client->signal(SIGTERM);
            else client->closeInput();
            std::this_thread::sleep_for(300ms);
            blocked.release();
            break;
        case LetGo::never: client->closeInput(); break;
        }
        client->waitFor("\x01 no such output", 30s);
        EXPECT_EQ(client->wait(30s), 0) << client->output();
        blocked.release();
        const bool lost = client->output().find("was not saved") != std::string::npos;
        EXPECT_EQ(lost, c.letGo == LetGo::never) << client->output();
        if (c.letGo == LetGo::never) {
            // The log line names the file that holds the lost key, with its cause.
            const std::string& out = client->output();
            const auto at = out.find("NOT saved");
            ASSERT_NE(at, std::string::npos) << out;
            const std::string line = out.substr(at, out.find('\n', at) - at);
            EXPECT_NE(line.find("config.plist: locked by another program"), std::string::npos) << line;
            EXPECT_NE(line.find("lost: S2T"), std::string::npos) << line;
            // So does the client's own line.
            const auto own = out.find("was not saved");
            const std::string told = out.substr(own, out.find('\n', own) - own);
            EXPECT_NE(told.find("config.plist: locked by another program"), std::string::npos) << told;
        }

        auto next = console(home, {"zhongguo "});
        next->closeInput();
        EXPECT_TRUE(next->waitFor(c.nextStart)) << next->output();
        EXPECT_EQ(next->wait(30s), 0);
    }
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// What stands in a settings file's place when the console client starts: a folder or
// a dangling link is set aside (told once) and the file written anew; a link to a
// file of the user's own is read and written there, the link kept. Either way the
// switch reaches the next start and nothing is said lost at exit.
TEST(ConsoleExit, ASwitchIsSavedWhateverStandsInASettingsFilesPlace) {
    using taviro::test::SettingsFilePlace;
    for (const auto& c : taviro::test::settingsFilePlaceCases()) {
        SCOPED_TRACE(c.name);
        const fs::path home = taviro::test::freshDir("console-place");
        const fs::path perUser = home / "data" / "TaviroMac";
        fs::create_directories(perUser);
        const fs::path place = perUser / c.file;
        const bool linked = c.place == SettingsFilePlace::linkToOurs;
        // Traditional output is on in a linked "config.plist".
        const bool linkedS2T = linked && std::string(c.file) == "config.plist";
        plantSettingsFilePlace(place, c.place, home / "dotfiles" / c.file,
                               linkedS2T ? plat::PlistValue::Dictionary{{"S2T", plat::PlistValue(true)}}
                                         : plat::PlistValue::Dictionary{{"org.example.app", plat::PlistValue("App")}});

        auto client = console(home);
        ASSERT_TRUE(client->started());
        if (linkedS2T) {
            client->send("zhongguo ");
            EXPECT_TRUE(client->waitFor("中國")) << client->output();
        }
        client->send(";f");
        client->send("zhongguo ");
        EXPECT_TRUE(client->waitFor(linkedS2T ? "中国" : "中國")) << client->output();
        client->closeInput();
        client->waitFor("\x01 no such output", 30s);
        EXPECT_EQ(client->wait(30s), 0) << client->output();
        const std::string out = client->output();
        EXPECT_EQ(out.find("not saved"), std::string::npos) << out;
        EXPECT_EQ(out.find("NOT saved"), std::string::npos) << out;
        EXPECT_EQ(count(out, "设置文件无法使用"), linked ? 0u : 1u) << out;

        EXPECT_EQ(taviro::test::setAsideCount(perUser, c.file), linked ? 0u : 1u);
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(place)), linked);
        EXPECT_TRUE(plat::readPlistFile(place, plat::PlistValue::Type::Dictionary).has_value());
        EXPECT_EQ(storedS2T(perUser), !linkedS2T);

        auto next = console(home, {"zhongguo "});
        next->closeInput();
        EXPECT_TRUE(next->waitFor(linkedS2T ? "中国" : "中國")) << next->output();
        EXPECT_EQ(next->wait(30s), 0);
    }
}

} // namespace

#endif
