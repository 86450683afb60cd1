// taviro-type: types key scripts through the input-method server, the input
// controller, the engine and the user's data, and prints what was committed.
#include "InputMethod/CandidateWindowHolder.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/InputDeletage.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/KeyScript.h"
#include "InputMethod/TaviroEngineAdapter.h"
#include "InputMethod/TypingSession.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/MainQueueDriver.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/ReplaceJournal.h"
#include "Platform/SunPinyin/SunpinyinWrapper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::chrono::seconds kStartUpLimit{30};

// Messages for the user go to the terminal.
class ConsoleNotice : public taviro::UserNotice {
public:
    void post(const std::string& title, const std::string& text) override {
        std::cerr << "taviro-type: " << title << ": " << text << "\n";
    }
};

volatile std::sig_atomic_t stopSignalled = 0;
int signalWakeFd = -1;

// SIGINT, SIGTERM, SIGHUP: end after the current line, as at the end of the
// input. A second one ends the program at once.
void requestStop(int) {
    stopSignalled = 1;
    const char c = 0;
    if (signalWakeFd >= 0) (void)!::write(signalWakeFd, &c, 1);
}

// The program's main queue, served in real time while it waits for the next
// line of standard input: retries of settings saves run between lines.
class LineLoop : public plat::MainQueueDriver {
public:
    explicit LineLoop(plat::MainQueue& queue) : queue_(queue) {
        if (::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) wakeFds_[0] = wakeFds_[1] = -1;
        queue_.bindMainThread();
        queue_.setDriver(this);
        signalWakeFd = wakeFds_[1];
        struct sigaction action {};
        action.sa_handler = requestStop;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
    }
    ~LineLoop() override {
        queue_.setDriver(nullptr);
        signalWakeFd = -1;
        for (int fd : wakeFds_)
            if (fd >= 0) ::close(fd);
    }

    bool stopRequested() const { return stopSignalled != 0; }
    LineLoop(const LineLoop&) = delete;
    LineLoop& operator=(const LineLoop&) = delete;

    Clock::time_point now() const override { return Clock::now(); }
    void wake() override {
        const char c = 0;
        if (wakeFds_[1] >= 0) (void)!::write(wakeFds_[1], &c, 1);
    }
    void scheduleAt(Clock::time_point) override { wake(); }

    // The next line of standard input without its line feed; none at its end.
    // The queue runs while it waits.
    std::optional<std::string> nextLine() {
        for (;;) {
            queue_.runPending();
            if (stopRequested()) return std::nullopt;
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (ended_) {
                if (buffer_.empty()) return std::nullopt;
                return std::exchange(buffer_, {});
            }
            int timeout = -1;
            if (const auto next = queue_.nextDeadline()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
                timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
            }
            pollfd fds[2] = {{0, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
            if (::poll(fds, wakeFds_[0] >= 0 ? 2 : 1, timeout) < 0 && errno != EINTR) ended_ = true;
            if (fds[1].revents & POLLIN) {
                char drain[64];
                while (::read(wakeFds_[0], drain, sizeof drain) > 0) {
                }
            }
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                char chunk[4096];
                const ssize_t n = ::read(0, chunk, sizeof chunk);
                if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
                else if (n == 0 || (errno != EINTR && errno != EAGAIN)) ended_ = true;
            }
        }
    }

private:
    plat::MainQueue& queue_;
    int wakeFds_[2] = {-1, -1};
    std::string buffer_;
    bool ended_ = false;
};

void usage(std::ostream& out) {
    out << "usage: taviro-type [--trace] [KEYS]\n"
           "\n"
           "Types KEYS through the input method as if on a US keyboard and prints the\n"
           "committed text. Without KEYS, every line of standard input is typed as its\n"
           "own key sequence and gives one line of output.\n"
           "\n"
           "  --trace   after each key, print the key, the marked text and the\n"
           "            visible candidate page (the highlighted one in brackets)\n"
           "  --help    this text\n"
           "\n"
           "Escapes in KEYS:\n"
        << taviro::KeyScript::help()
        << "\n"
           "Example: taviro-type \"nihao \" prints 你好.\n";
}

// Types one script in a fresh client; false when it does not parse.
bool typeLine(taviro::TypingSession& session, const std::string& script, bool trace) {
    std::string error;
    const auto steps = taviro::KeyScript::parse(script, &error);
    if (!steps) {
        std::cerr << "taviro-type: " << error << "\n";
        return false;
    }
    session.replaceClient(std::string("org.example.taviro-type"));
    auto& window = taviro::CandidateWindowHolder::shared().window();
    for (const auto& step : *steps) {
        session.type(step);
        if (trace) {
            std::cout << step.label << "\t" << session.client().markedText() << "\t"
                      << taviro::renderCandidateText(window) << "\n";
        }
    }
    std::cout << session.client().committedText() << std::endl;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool trace = false;
    std::vector<std::string> scripts;
    bool haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(std::cout);
            return 0;
        }
        if (arg == "--trace") {
            trace = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            std::cerr << "taviro-type: unknown option " << arg << "\n";
            usage(std::cerr);
            return 2;
        } else {
            scripts.push_back(arg);
            haveScript = true;
        }
    }

    plat::recoverAtStart(plat::Paths::perUserFolder(), plat::Paths::userFolder());
    auto& store = taviro::Database::shared();
    auto notice = std::make_shared<ConsoleNotice>();
    store.setUserNotice(notice);
    taviro::ConfigManager::shared().setUserNotice(notice);
    plat::SunpinyinWrapper::setUserNotice(
        [notice](const std::string& title, const std::string& text) { notice->post(title, text); });
    taviro::TaviroIMEngine& engine = taviro::TaviroIMEngine::shared();
    // Keys are typed faster than any hand: wait for the ready flag, as a user
    // would wait for the input method to come up, but not for ever.
    if (!engine.waitForStartUp(kStartUpLimit)) {
        std::cerr << "taviro-type: the input method did not start within "
                  << std::chrono::duration_cast<std::chrono::seconds>(kStartUpLimit).count()
                  << " s; a file in " << store.locations().userFolder.string() << " may be blocked\n";
        std::cout.flush();
        std::cerr.flush();
        // Start-up threads may still be stuck: leave without waiting for them.
        std::_Exit(1);
    }
    taviro::TaviroEngineAdapter adapter(engine);
    taviro::ControllerEnvironment environment;
    environment.engine = &adapter;
    environment.notice = notice;

    int status = 0;
    {
        LineLoop loop(plat::MainQueue::shared());
        taviro::TypingSession session(environment, std::string("org.example.taviro-type"));
        if (haveScript) {
            for (const auto& script : scripts) {
                if (loop.stopRequested()) break;
                if (!typeLine(session, script, trace)) status = 1;
            }
        } else {
            while (const auto line = loop.nextLine())
                if (!typeLine(session, *line, trace)) {
                    std::cout << std::endl;
                    status = 1;
                }
        }
        // A settings change still waiting for the lock gets one last try.
        if (!taviro::ConfigManager::shared().saveBeforeExit())
            std::cerr << "taviro-type: a settings change was not saved: "
                      << plat::describeUnwritten(taviro::ConfigManager::shared().unwrittenFiles()) << "\n";
    }
    // Learnt words are written on a worker: let those writes finish and close
    // the store, or they are rolled back at the next start.
    if (!engine.finishForExit(std::chrono::seconds(5))) {
        if (const auto waiting = store.pendingUserWrites())
            std::cerr << "taviro-type: " << waiting << " learnt words were not saved: "
                      << store.userDatabaseTrouble().text << "\n";
        else
            std::cerr << "taviro-type: the user dictionary was still being written at exit\n";
    }
    if (const auto lost = store.lostUserWrites())
        std::cerr << "taviro-type: " << lost << " learnt words were not saved: " << store.userDatabaseTrouble().text
                  << "\n";
    return status;
}
