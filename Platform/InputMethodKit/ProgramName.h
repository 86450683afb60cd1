#pragma once
#include <memory>
#include <optional>
#include <string>

namespace plat {

// The program name of a running process of this machine: the base name of
// the first word of its command line (/proc/<pid>/cmdline), so a program
// started through a link is named after the link. Empty when the process is
// gone or cannot be read.
std::string programNameOfProcess(long pid);

// The program an IBus client name names: "gtk3-im:gedit" and "gtk4-im:gedit"
// give "gedit"; names that name no program ("QIBusInputContext", "xim", "")
// give "".
std::string programNameFromClient(const std::string& client);

// The program behind the window that has the X11 input focus: the program
// name of the window's process (_NET_WM_PID, when the window says it runs
// on this machine), else the instance part of its WM_CLASS. The focused
// window or, when the window manager focuses a frame, the active window is
// asked. None without an X server. One connection, opened on first use and
// again after it broke.
class X11FocusedProgram {
public:
    X11FocusedProgram();
    ~X11FocusedProgram();
    X11FocusedProgram(const X11FocusedProgram&) = delete;
    X11FocusedProgram& operator=(const X11FocusedProgram&) = delete;

    std::optional<std::string> query();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
