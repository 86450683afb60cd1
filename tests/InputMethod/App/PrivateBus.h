#pragma once
// A session bus of the test's own, started with dbus-daemon.
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace taviro::test {

// A session bus of the test's own (other tests may own a service's name or hear
// commands on the shared one); it becomes this process's session bus.
class PrivateBus {
public:
    PrivateBus() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char a0[] = "dbus-daemon", a1[] = "--session", a2[] = "--nofork", a3[] = "--print-address=1";
        char* argv[] = {a0, a1, a2, a3, nullptr};
        if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string line;
        char c;
        pollfd ready{fds[0], POLLIN, 0};
        while (pid_ > 0 && ::poll(&ready, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(fds[0]);
        if (line.empty()) return;
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) old_ = old;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", line.c_str(), 1);
        ok_ = true;
    }
    ~PrivateBus() {
        if (old_) ::setenv("DBUS_SESSION_BUS_ADDRESS", old_->c_str(), 1);
        else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        stop();
    }
    bool ok() const { return ok_; }
    // Ends the bus daemon, as the end of a desktop session does.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool ok_ = false;
    std::optional<std::string> old_;
};

} // namespace taviro::test
