#include "../CandidateFixture.h"

#include "InputMethod/TavCandidates/Qt/QtCandidateView.h"
#include "InputMethod/TavCandidates/Qt/QtCandidateWindows.h"

#include <QApplication>
#include <QTest>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace taviro::test {
namespace {

// A private X server for this process, stopped at exit.
class PrivateXServer {
public:
    bool start() {
        if (access("/usr/bin/Xvfb", X_OK) != 0) return false;
        int fds[2];
        if (pipe(fds) != 0) return false;
        const std::string fd = std::to_string(fds[1]);
        std::array<const char*, 10> argv{"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24",
                                         "-nolisten", "tcp", "-noreset", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const int rc = posix_spawn(&pid_, "/usr/bin/Xvfb", &actions, nullptr, const_cast<char**>(argv.data()), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            return false;
        }
        // The server writes its display number when it is ready; wait at most 10 s.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (number.empty()) return false;
        display_ = ":" + number;
        return true;
    }
    ~PrivateXServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// "Absolute upper-left X/Y" of a window, as the X server reports it.
std::optional<QPoint> serverPosition(WId id) {
    const std::string command = "timeout 10 xwininfo -id " + std::to_string(id) + " 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    if (!out) return std::nullopt;
    std::string text;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, out)) text += buffer;
    pclose(out);
    std::smatch x, y;
    if (!std::regex_search(text, x, std::regex("Absolute upper-left X:\\s+(-?\\d+)")) ||
        !std::regex_search(text, y, std::regex("Absolute upper-left Y:\\s+(-?\\d+)")))
        return std::nullopt;
    return QPoint(std::stoi(x[1]), std::stoi(y[1]));
}

TEST_F(CandidateFixture, ShownUnderTheCaretOnARealXServer) {
    static PrivateXServer server;
    if (!server.start()) GTEST_SKIP() << "no Xvfb";
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("TAVIRO_APPEARANCE", "light", 1);
    static int argc = 1;
    static char name[] = "test_candidates_x11";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);

    CandidateEnvironment env;
    env.config = &config;
    env.notifications = &notifications;
    for (const bool vertical : {false, true}) {
        auto w = qt::makeCandidateWindow(vertical, env);
        w->setDelegate(&delegate);
        delegate.list = {"你好", "尼好", "拟好"};
        // A caret 20 pixels high whose top left is at (300, 200).
        client.setLineRect(qt::lineRectFromPixels(300, 200, 2, 20));
        w->showAtCaret(&client);
        auto& view = static_cast<qt::QtCandidateView*>(w->view())->widget();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view, 5000));
        QTest::qWait(50);
        const auto at = serverPosition(view.winId());
        ASSERT_TRUE(at.has_value());
        // 15 to the left of the caret and 5 below its line.
        EXPECT_EQ(*at, QPoint(285, 225)) << (vertical ? "vertical" : "horizontal");
        EXPECT_EQ(view.size(), QSize(static_cast<int>(w->frame().size.width), static_cast<int>(w->frame().size.height)));

        // At the bottom of the 800-pixel screen the window goes above the line.
        client.setLineRect(qt::lineRectFromPixels(300, 770, 2, 20));
        w->showAtCaret(&client);
        QTest::qWait(50);
        const auto above = serverPosition(view.winId());
        ASSERT_TRUE(above.has_value());
        EXPECT_LT(above->y() + view.height(), 790) << (vertical ? "vertical" : "horizontal");
        w->close();
    }
}

} // namespace
} // namespace taviro::test
