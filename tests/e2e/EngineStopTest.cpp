// TaviroMac2 ended by SIGTERM (logout, a service manager) while a settings change
// it made waits for the lock that another program holds.
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "e2e/PrivateIBus.h"
#include "support/BlockedLock.h"
#include "support/SessionEnd.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#ifdef LOCK_HOLDER

namespace {

using namespace taviro::e2e;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::optional<bool> storedS2T() {
    auto file = plat::readPlistFile(plat::Paths::perUserFolder() / "config.plist", plat::PlistValue::Type::Dictionary);
    const plat::PlistValue* value = file ? file->find("S2T") : nullptr;
    return value ? value->getBool() : std::nullopt;
}

bool processGone(pid_t pid, Clock::duration timeout) {
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
        if (!fs::exists("/proc/" + std::to_string(pid))) return true;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // A zombie has ended: its parent has not collected it yet.
        if (const auto close = line.rfind(')'); close != std::string::npos && line.size() > close + 2 &&
                                                line[close + 2] == 'Z')
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// ";f" switches traditional output; the save meets the held lock and is left to
// its retries. SIGTERM then ends the engine: its stop makes one last write that
// waits a bounded time. A lock let go meanwhile gets the change written for the
// next start; one held past that ends the engine promptly, saying what was lost.
class EngineStop : public HeadlessEndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(EngineStop, SigtermWritesAChangeWaitingForTheLockOrSaysItIsLost) {
    const bool released = GetParam();
    {
        ASSERT_TRUE(typeNihao()) << "the engine never came up; daemon log:\n" << daemonLog();
        ASSERT_TRUE(waitFor("COMMIT 你好"));
        const pid_t pid = enginePid();
        ASSERT_GT(pid, 0);
        const bool before = storedS2T().value_or(false);

        taviro::test::BlockedLock blocked(plat::configLockPath(plat::Paths::perUserFolder()),
                                          taviro::test::LockBlock::otherProcess, LOCK_HOLDER);
        ASSERT_TRUE(blocked.ready());
        const std::size_t logBefore = daemonLog().size();
        ASSERT_TRUE(keys({{"semicolon", 39}, {"f", 33}}));
        const auto until = Clock::now() + 10s;
        while (daemonLog().find("(retrying)", logBefore) == std::string::npos && Clock::now() < until)
            std::this_thread::sleep_for(20ms);
        ASSERT_NE(daemonLog().find("(retrying)", logBefore), std::string::npos)
            << "the switch was never saved; daemon log:\n" << daemonLog();
        EXPECT_EQ(storedS2T().value_or(false), before);

        ::kill(pid, SIGTERM);
        if (released) {
            std::this_thread::sleep_for(300ms);
            blocked.release();
        }
        EXPECT_TRUE(processGone(pid, 15s)) << "the engine did not end";
        blocked.release();
        const std::string log = daemonLog().substr(logBefore);
        if (released) {
            EXPECT_EQ(storedS2T(), !before) << log;
            EXPECT_EQ(log.find("NOT saved"), std::string::npos) << log;
        } else {
            EXPECT_EQ(storedS2T().value_or(false), before) << log;
            EXPECT_NE(log.find("NOT saved"), std::string::npos) << log;
            // This bus has no notification service: the engine tried, and says so.
            EXPECT_NE(log.find("no notice could be shown"), std::string::npos) << log;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lock, EngineStop, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("LetGoDuringTheStop") : std::string("HeldPastTheStop");
                         });

// The end of the desktop session as the engine meets it: a signal, the session bus
// going away under it (the IBus daemon may go with it), or its X display going away.
// Status 0, but 1 when the display goes (Qt itself ends the process then). The
// engine runs as this test's child (registered with the daemon by itself), so
// that its exit status is seen. A switch waits for the lock another program
// holds; the lock is let go during the stop, and the stop's last write gets the
// switch into config.plist.
using taviro::test::SessionEnd;

class EngineSessionEnd : public HeadlessEndToEnd, public ::testing::WithParamInterface<SessionEnd> {
protected:
    void SetUp() override {
        for (const char* p : {"ibus-daemon", "dbus-daemon"})
            if (!onPath(p)) GTEST_SKIP() << p << " is not installed (scripts/install-deps.sh installs it)";
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "IBUS_ADDRESS"}) ::unsetenv(v);
        ASSERT_TRUE(startBusAndComponent("e2e-session-end")) << "dbus-daemon did not start";
        // Only the engine started here serves the name.
        fs::remove(dir_ / "component" / "taviromac2.xml");
        ASSERT_TRUE(startDaemon(true)) << "ibus-daemon did not start";
        if (GetParam() == SessionEnd::displayGone) {
            // The engine on an X display of its own.
            if (!onPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
            ASSERT_TRUE(startXvfb(xvfb_)) << "Xvfb did not start";
        }
        engineLog_ = dir_ / "engine.log";
        engine_ = Child({std::string(TAVIRO_BIN_DIR) + "/TaviroMac2"}, (dir_ / "engine.out").string(),
                        engineLog_.string());
        const auto until = Clock::now() + 20s;
        while (Clock::now() < until) {
            client_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-raw", "taviromac2"}, "", errFile_, true);
            auto ready = client_.waitForLine(
                [](const std::string& l) { return l == "READY" || l.rfind("FAILED", 0) == 0; }, 10s);
            if (ready && *ready == "READY") return;
            client_.stop();
            std::this_thread::sleep_for(100ms);
        }
        FAIL() << "the engine never served a context; its log:\n" << engineLog();
    }
    void TearDown() override {
        client_.stop();
        engine_.stop();
        xvfb_.stop();
        ::unsetenv("DISPLAY");
        HeadlessEndToEnd::TearDown();
    }
    std::string engineLog() const {
        std::ifstream f(engineLog_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    fs::path engineLog_;
    Child engine_, xvfb_;
};

TEST_P(EngineSessionEnd, TheStopWritesTheSwitchAndTheEndIsClean) {
    if (GetParam() == SessionEnd::displayGone) {
        // Candidates are in the engine's own window there, not in the client.
        const auto ready = Clock::now() + 20s;
        while (engineLog().find("ready for keys") == std::string::npos && Clock::now() < ready)
            std::this_thread::sleep_for(20ms);
        ASSERT_NE(engineLog().find("ready for keys"), std::string::npos) << engineLog();
    } else {
        ASSERT_TRUE(typeNihao()) << "no candidates; engine log:\n" << engineLog();
        ASSERT_TRUE(waitFor("COMMIT 你好"));
    }
    const bool before = storedS2T().value_or(false);

    taviro::test::BlockedLock blocked(plat::configLockPath(plat::Paths::perUserFolder()),
                                      taviro::test::LockBlock::otherProcess, LOCK_HOLDER);
    ASSERT_TRUE(blocked.ready());
    ASSERT_TRUE(keys({{"semicolon", 39}, {"f", 33}}));
    const auto until = Clock::now() + 10s;
    while (engineLog().find("(retrying)") == std::string::npos && Clock::now() < until)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(engineLog().find("(retrying)"), std::string::npos) << "the switch was never saved:\n" << engineLog();

    switch (GetParam()) {
    case SessionEnd::sigterm: engine_.kill(SIGTERM); break;
    case SessionEnd::sigint: engine_.kill(SIGINT); break;
    case SessionEnd::sighup: engine_.kill(SIGHUP); break;
    case SessionEnd::busGone: bus_.stop(); break;
    case SessionEnd::displayGone: xvfb_.stop(); break;
    }
    std::this_thread::sleep_for(300ms);
    blocked.release();
    ASSERT_TRUE(engine_.waitExit(15s)) << "the engine did not end:\n" << engineLog();
    const std::string log = engineLog();
    ASSERT_TRUE(engine_.status().has_value());
    // Qt itself ends the process when its display goes, with status 1.
    const int expected = GetParam() == SessionEnd::displayGone ? 1 : 0;
    EXPECT_TRUE(WIFEXITED(*engine_.status()) && WEXITSTATUS(*engine_.status()) == expected)
        << "wait status " << *engine_.status() << "\n" << log;
    EXPECT_EQ(log.find("terminate called"), std::string::npos) << log;
    EXPECT_EQ(log.find("NOT saved"), std::string::npos) << log;
    // The daemon may go with the bus, so the stop may come from either; the
    // listener saw the bus go either way.
    if (GetParam() == SessionEnd::busGone) {
        EXPECT_NE(log.find("the session bus is gone"), std::string::npos) << log;
    }
    // The next start reads the switch.
    EXPECT_EQ(storedS2T(), !before) << log;
}

INSTANTIATE_TEST_SUITE_P(Ends, EngineSessionEnd, ::testing::ValuesIn(taviro::test::kSessionEnds),
                         [](const auto& info) { return taviro::test::sessionEndName(info.param); });

} // namespace

#endif
