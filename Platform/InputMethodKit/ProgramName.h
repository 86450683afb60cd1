#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// The program name of a running process of this machine, from its command
// line (/proc/<pid>/cmdline) by the shared rules of SharedLib/contract/
// ApplicationName.h: the base name of what it was started as, so a program
// started through a link is named after the link; for an interpreter, the
// script it runs. Empty when the process is gone or cannot be read.
std::string programNameOfProcess(long pid);

// The program an IBus client name names: "gtk3-im:gedit" and "gtk4-im:gedit"
// give "gedit"; names that name no program ("QIBusInputContext", "xim", "")
// give "".
std::string programNameFromClient(const std::string& client);

// What the window with the X11 input focus says of its application.
struct WindowIdentity {
    std::string program;     // the program name of the window's process
    std::string wmInstance;  // WM_CLASS: the instance part
    std::string wmClass;     // WM_CLASS: the class part
};

// Every name the application of an IBus client goes by, the first being the
// one to show. The client's own word comes first where it has one (a GTK
// program name, or a client name that names no toolkit): the focused X11
// window counts only when it belongs to that program, so a client without a
// window of its own is not named after the window that has the focus. A
// client that names only its toolkit ("QIBusInputContext", "xim") goes by
// the window's names; with no window either, by its client name. A window's
// WM_CLASS parts count also in the form desktops compare with a desktop-file
// id (contract::windowClassAsDesktopId: "Realed" -> "realed").
std::vector<std::string> clientApplicationNames(const std::optional<WindowIdentity>& window,
                                                const std::string& client);

// The window that has the X11 input focus: the program name of the
// window's process (_NET_WM_PID, when the window says it runs on this
// machine) and its WM_CLASS. The focused window or, when the window manager
// focuses a frame, the active window is asked. None without an X server.
// One connection, opened on first use and again after it broke.
class X11FocusedProgram {
public:
    X11FocusedProgram();
    ~X11FocusedProgram();
    X11FocusedProgram(const X11FocusedProgram&) = delete;
    X11FocusedProgram& operator=(const X11FocusedProgram&) = delete;

    std::optional<WindowIdentity> query();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
