// TaviroMac2 ended by SIGTERM (logout, a service manager) while a settings change
// it made waits for the lock that another program holds.
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "e2e/PrivateIBus.h"
#include "support/BlockedLock.h"

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
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lock, EngineStop, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("LetGoDuringTheStop") : std::string("HeldPastTheStop");
                         });

} // namespace

#endif
