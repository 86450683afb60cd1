#include "Platform/Foundation/FileLock.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace plat {
namespace {

using namespace std::chrono_literals;

// The lock is held by another process: the wait is bounded and then the lock is
// free again once that process is gone (also when it is killed).
TEST(FileLock, ExcludesAnotherProcessAndIsFreedWhenItDies) {
    const auto lockFile = configLockPath(taviro::test::freshDir("lock"));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto held = FileLock::acquire(lockFile, 1000ms);
        char c = held ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(FileLock::acquire(lockFile, 50ms, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(error.find("another program"), std::string::npos) << error;

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(FileLock::acquire(lockFile, 1000ms));
}

TEST(FileLock, ReleasedByTheDestructorAndMovable) {
    const auto lockFile = configLockPath(taviro::test::freshDir("lock"));
    {
        auto first = FileLock::acquire(lockFile, 10ms);
        ASSERT_TRUE(first);
        FileLock moved = std::move(*first);
        first.reset();
        // flock locks belong to the open file: a second open in this process conflicts too.
        EXPECT_FALSE(FileLock::acquire(lockFile, 10ms));
    }
    EXPECT_TRUE(FileLock::acquire(lockFile, 10ms));
}

TEST(FileLock, ALinkInItsPlaceIsRefused) {
    const auto dir = taviro::test::freshDir("lock");
    std::filesystem::create_symlink(dir / "elsewhere", configLockPath(dir));
    std::string error;
    EXPECT_FALSE(FileLock::acquire(configLockPath(dir), 10ms, &error));
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

} // namespace
} // namespace plat
