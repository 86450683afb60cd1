#pragma once
// Pieces of the end-to-end tests: child processes with bounded waits, a
// private session bus and ibus-daemon, and a bare IBus client typing into
// TaviroMac2.
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace taviro::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    return false;
}

// A child process; stopped (TERM, then KILL) when the object goes.
class Child {
public:
    Child() = default;
    // With `input`, the child's standard input is a pipe that send() writes.
    Child(const std::vector<std::string>& argv, const std::string& stdoutFile, const std::string& stderrFile,
          bool input = false) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int inFds[2] = {-1, -1};
        if (input && ::pipe2(inFds, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, inFds[0], 0);
        int pipeFds[2] = {-1, -1};
        if (stdoutFile.empty()) {
            if (::pipe2(pipeFds, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pipeFds[1] >= 0) ::close(pipeFds[1]);
        out_ = pipeFds[0];
        if (inFds[0] >= 0) ::close(inFds[0]);
        in_ = inFds[1];
    }
    Child(Child&& o) noexcept { *this = std::move(o); }
    Child& operator=(Child&& o) noexcept {
        stop();
        std::swap(pid_, o.pid_);
        std::swap(out_, o.out_);
        std::swap(in_, o.in_);
        buffer_ = std::move(o.buffer_);
        return *this;
    }
    ~Child() { stop(); }

    // Waits (bounded) for the child to end; false when it still runs.
    bool waitExit(Clock::duration timeout) {
        const auto until = Clock::now() + timeout;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                status_ = status;
                return true;
            }
            if (Clock::now() >= until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    pid_t pid() const { return pid_; }
    // The wait status (as waitpid gives it) once waitExit saw the child end.
    std::optional<int> status() const { return status_; }

    void kill(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // Writes one line to the child's standard input.
    bool send(const std::string& line) {
        const std::string text = line + "\n";
        return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    void stop() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
        if (out_ >= 0) ::close(out_);
        out_ = -1;
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto until = Clock::now() + 3s;
        while (Clock::now() < until && ::waitpid(pid_, nullptr, WNOHANG) == 0) std::this_thread::sleep_for(10ms);
        if (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    // Reads standard output lines until one satisfies `match` or time runs out.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& match,
                                           Clock::duration timeout) {
        const auto until = Clock::now() + timeout;
        while (true) {
            std::size_t nl;
            while ((nl = buffer_.find('\n')) != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                lines_.push_back(line);
                if (match(line)) return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0 || out_ < 0) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) {
                ::close(out_);
                out_ = -1;
                continue;
            }
            buffer_.append(buf, static_cast<std::size_t>(n));
        }
    }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    int out_ = -1;
    int in_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
};

// Runs a program to its end (bounded); its standard output.
inline std::optional<std::string> runProgram(const std::vector<std::string>& argv, const std::string& errFile,
                                      Clock::duration timeout = 10s) {
    Child child(argv, "", errFile);
    std::string out;
    const auto until = Clock::now() + timeout;
    while (true) {
        auto line = child.waitForLine([](const std::string&) { return true; }, until - Clock::now());
        if (!line) break;
        out += *line + "\n";
    }
    if (!child.waitExit(until - Clock::now())) return std::nullopt;
    return out;
}

// A folder of the test's own with a private session bus, the component the
// daemon starts TaviroMac2 from, as installed, and a private ibus-daemon.
class PrivateIBusTest : public ::testing::Test {
protected:
    // The folder, the session bus (commands sent there reach only this test's
    // input method) and the component; false when the bus did not start.
    bool startBusAndComponent(const std::string& hint) {
        dir_ = taviro::test::freshDir(hint);
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::replace);
        errFile_ = (dir_ / "stderr.log").string();

        bus_ = Child({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", errFile_);
        auto busAddress = bus_.waitForLine([](const std::string& l) { return !l.empty(); }, 10s);
        if (!busAddress) return false;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress->c_str(), 1);

        const fs::path components = dir_ / "component";
        fs::create_directories(components);
        std::ifstream in(TAVIRO_COMPONENT_TEMPLATE);
        std::stringstream xml;
        xml << in.rdbuf();
        std::ofstream(components / "taviromac2.xml")
            << std::regex_replace(xml.str(), std::regex("@TAVIROMAC2_EXEC@"), std::string(TAVIRO_BIN_DIR) + "/TaviroMac2");
        ::setenv("IBUS_COMPONENT_PATH", components.c_str(), 1);
        ::setenv("IBUS_ADDRESS_FILE", (dir_ / "ibus-address").c_str(), 1);
        ::unsetenv("IBUS_ADDRESS");
        return true;
    }

    // The daemon, which lives as long as this test (it ends with its parent);
    // false when it did not start. `verbose`: the engine's log lines reach the
    // daemon's log.
    bool startDaemon(bool verbose) {
        std::vector<std::string> argv{"ibus-daemon", "--panel=disable", "--emoji-extension=disable",
                                      "--config=disable", "--cache=none", "--timeout=2000"};
        if (verbose) argv.push_back("--verbose");
        argv.push_back("--address=unix:path=" + (dir_ / "ibus.sock").string());
        daemon_ = Child(argv, (dir_ / "daemon.out").string(), (dir_ / "daemon.log").string());
        const auto until = Clock::now() + 10s;
        std::string address;
        while (address.empty() && Clock::now() < until) {
            std::ifstream f(dir_ / "ibus-address");
            for (std::string line; std::getline(f, line);)
                if (line.rfind("IBUS_ADDRESS=", 0) == 0) address = line.substr(13);
            if (address.empty()) std::this_thread::sleep_for(20ms);
        }
        if (address.empty()) return false;
        ::setenv("IBUS_ADDRESS", address.c_str(), 1);
        return true;
    }

    // A private X server on the first free display, made this process's
    // DISPLAY; false when it did not start.
    bool startXvfb(Child& xvfb) {
        int displayPipe[2];
        if (::pipe(displayPipe) != 0) return false;
        xvfb = Child({"Xvfb", "-displayfd", std::to_string(displayPipe[1]), "-screen", "0", "1280x800x24",
                      "-nolisten", "tcp"},
                     (dir_ / "xvfb.out").string(), errFile_);
        ::close(displayPipe[1]);
        std::string display;
        pollfd p{displayPipe[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) > 0) {
            char buf[32] = {};
            const ssize_t n = ::read(displayPipe[0], buf, sizeof buf - 1);
            if (n > 0) display = std::string(buf, static_cast<std::size_t>(n));
        }
        ::close(displayPipe[0]);
        while (!display.empty() && (display.back() == '\n' || display.back() == ' ')) display.pop_back();
        if (display.empty()) return false;
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        return true;
    }

    std::string daemonLog() const {
        std::ifstream f(dir_ / "daemon.log");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    fs::path dir_;
    std::string errFile_;
    Child bus_, daemon_;
};

// TaviroMac2 where no window can be shown: no X server, no Wayland. The
// daemon starts it as usual; a bare IBus client types into it and receives
// the candidates as IBus's lookup table (the desktop's panel would draw it).
class HeadlessEndToEnd : public PrivateIBusTest {
protected:
    void SetUp() override {
        for (const char* p : {"ibus-daemon", "dbus-daemon"})
            if (!onPath(p)) GTEST_SKIP() << p << " is not installed (scripts/install-deps.sh installs it)";
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "IBUS_ADDRESS"}) ::unsetenv(v);
        ASSERT_TRUE(startBusAndComponent("e2e-headless")) << "dbus-daemon did not start";
        ASSERT_TRUE(startDaemon(true)) << "ibus-daemon did not start";

        // The client selects the engine: the daemon starts TaviroMac2.
        client_ = Child({std::string(TAVIRO_BIN_DIR) + "/taviro-e2e-raw", "taviromac2"}, "", errFile_, true);
        auto ready = client_.waitForLine([](const std::string& l) { return l == "READY" || l.rfind("FAILED", 0) == 0; },
                                         15s);
        ASSERT_TRUE(ready && *ready == "READY") << (ready ? *ready : "no answer") << "; daemon log:\n" << daemonLog();
    }

    void TearDown() override {
        client_.stop();
        daemon_.stop();
        bus_.stop();
        ::unsetenv("IBUS_ADDRESS");
    }

    // Presses and releases each key (keysym name and evdev code); true when
    // the engine answered every one.
    bool keys(const std::vector<std::pair<std::string, int>>& list) {
        for (const auto& [name, code] : list) {
            if (!client_.send("KEY " + name + " " + std::to_string(code))) return false;
            if (!client_.waitForLine([](const std::string& l) { return l.rfind("HANDLED", 0) == 0; }, 5s))
                return false;
        }
        return true;
    }

    // The first line not looked at yet that satisfies `match`, in the order
    // the client printed them (the lines before a key's answer included).
    std::optional<std::string> waitForMatch(const std::function<bool(const std::string&)>& match,
                                            Clock::duration timeout = 3s) {
        for (const auto& lines = client_.lines(); looked_ < lines.size();)
            if (match(lines[looked_++])) return lines[looked_ - 1];
        auto line = client_.waitForLine(match, timeout);
        looked_ = client_.lines().size();
        return line;
    }

    std::optional<std::string> waitFor(const std::string& prefix, Clock::duration timeout = 3s) {
        return waitForMatch([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, timeout);
    }

    // Types "nihao" until the lookup table offers 你好 (the engine may still
    // be opening its dictionaries), then commits it with the space bar.
    // Returns the table line that was shown.
    std::optional<std::string> typeNihao() {
        const std::vector<std::pair<std::string, int>> nihao{{"n", 49}, {"i", 23}, {"h", 35}, {"a", 30}, {"o", 24}};
        const auto until = Clock::now() + 20s;
        while (Clock::now() < until) {
            if (!keys(nihao)) return std::nullopt;
            auto table = waitForMatch(
                [](const std::string& l) { return l.rfind("TABLE ", 0) == 0 && l.find(":你好") != std::string::npos; },
                2s);
            if (table) {
                if (!keys({{"space", 57}})) return std::nullopt;
                return table;
            }
            keys({{"Escape", 1}});
        }
        return std::nullopt;
    }

    // The engine process: the daemon's child.
    pid_t enginePid() const {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            const auto close = line.rfind(')');
            const auto open = line.find('(');
            if (open == std::string::npos || close == std::string::npos) continue;
            if (line.substr(open + 1, close - open - 1) != "TaviroMac2") continue;
            std::istringstream rest(line.substr(close + 2));
            char state;
            pid_t parent = 0;
            rest >> state >> parent;
            if (parent == daemon_.pid()) return static_cast<pid_t>(std::stoi(entry.path().filename().string()));
        }
        return -1;
    }

    // How often the engine's main thread has gone to sleep and been woken.
    static long wakeUps(pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        long total = 0;
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos) total += std::stol(line.substr(line.find(':') + 1));
        return total;
    }

    Child client_;
    std::size_t looked_ = 0;
};

} // namespace taviro::e2e
