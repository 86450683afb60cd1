#pragma once
// A helper program run as a child process, with pipes on its standard input
// and output, for tests that put two programs on one file. Every wait is
// bounded; the destructor kills the child by its id.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace taviro::test {

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe(in) != 0) return;
        if (::pipe(out) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
    }

    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(10));
        }
        if (toChild_ >= 0) ::close(toChild_);
        if (fromChild_ >= 0) ::close(fromChild_);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // Reads the child's output until it holds `token`, at most `timeout`.
    bool waitFor(const std::string& token, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (output_.find(token, consumed_) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || fromChild_ < 0) return false;
            pollfd p{fromChild_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            char buf[256];
            const ssize_t n = ::read(fromChild_, buf, sizeof buf);
            if (n <= 0) return output_.find(token, consumed_) != std::string::npos;
            output_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    // Sends one line and waits for the child's next answer line, which it
    // returns without its line feed (empty when none came in time).
    std::string ask(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        send(line);
        return nextLine(timeout);
    }

    // The child's next line not yet taken, without its line feed (empty when
    // none came in time).
    std::string nextLine(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        if (!waitFor("\n", timeout)) return {};
        const auto end = output_.find('\n', consumed_);
        std::string answer = output_.substr(consumed_, end - consumed_);
        consumed_ = end + 1;
        return answer;
    }

    void send(const std::string& line) {
        if (toChild_ < 0) return;
        const std::string text = line + "\n";
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(toChild_, text.data() + done, text.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // Closes the child's standard input.
    void closeInput() {
        if (toChild_ >= 0) {
            ::close(toChild_);
            toChild_ = -1;
        }
    }

    // A signal, as a session's end or a service manager sends one.
    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // SIGKILL, as a crash or a forced quit would end it.
    void killNow() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }

    // Waits for the child to end, at most `timeout`; its exit status, or -1.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return status;
            }
            if (r < 0 || std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    std::string output_;
    std::size_t consumed_ = 0;  // output already answered by ask()
};

} // namespace taviro::test
