#pragma once
// The desktop end-to-end tests' private X server beside the bus and the
// daemon: key injection and the candidate window's frame.
#include "e2e/PrivateIBus.h"

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace taviro::e2e {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};


// A private X server beside the bus and the daemon: keys typed with xdotool
// into the focused window, the candidate window looked up by its name.
class X11Desktop : public PrivateIBusTest {
protected:
    // The bus, the component, the X server and the daemon; skips the test
    // when a program is missing. Check HasFatalFailure() and IsSkipped().
    void startDesktop(const std::string& hint) {
        for (const char* p : {"Xvfb", "ibus-daemon", "ibus", "xdotool", "xwininfo", "dbus-daemon"})
            if (!onPath(p)) GTEST_SKIP() << p << " is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(startBusAndComponent(hint)) << "dbus-daemon did not start";
        ASSERT_TRUE(startXvfb(xvfb_)) << "Xvfb did not start";
        ASSERT_TRUE(startDaemon(false)) << "ibus-daemon did not start";
    }

    void stopDesktop() {
        daemon_.stop();
        xvfb_.stop();
        bus_.stop();
        ::unsetenv("IBUS_ADDRESS");
    }

    // Selects the engine (the daemon starts TaviroMac2 from the component)
    // and waits until it takes the focused field's keys.
    void selectEngine() {
        ASSERT_TRUE(runProgram({"ibus", "engine", "taviromac2"}, errFile_));
        ASSERT_TRUE(waitForEngine()) << "TaviroMac2 never took the field's keys; daemon log:\n" << daemonLog();
    }

    void keys(const std::vector<std::string>& names) {
        std::vector<std::string> argv{"xdotool", "key", "--delay", "30"};
        argv.insert(argv.end(), names.begin(), names.end());
        ASSERT_TRUE(runProgram(argv, errFile_));
    }

    // The candidate window's frame when it is on screen.
    std::optional<Rect> candidateWindow(Clock::duration timeout = 5s) {
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            auto out = runProgram({"xwininfo", "-name", "Candidates"}, errFile_);
            if (out && out->find("IsViewable") != std::string::npos) {
                Rect r;
                std::smatch m;
                auto field = [&](const char* name) {
                    std::regex re(std::string(name) + R"(:\s+(-?\d+))");
                    return std::regex_search(*out, m, re) ? std::stoi(m[1]) : -1;
                };
                r.x = field("Absolute upper-left X");
                r.y = field("Absolute upper-left Y");
                r.w = field("Width");
                r.h = field("Height");
                return r;
            }
            std::this_thread::sleep_for(50ms);
        }
        return std::nullopt;
    }

    bool windowGone(Clock::duration timeout = 3s) {
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            auto out = runProgram({"xwininfo", "-name", "Candidates"}, errFile_);
            if (!out || out->find("IsViewable") == std::string::npos) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Types "a" until it shows as marked text (the caret moves), then clears it.
    bool waitForEngine() {
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until) {
            keys({"a"});
            if (candidateWindow(700ms)) {
                keys({"Escape"});
                return true;
            }
            keys({"BackSpace"});
        }
        return false;
    }

    Child xvfb_;
};


} // namespace taviro::e2e
