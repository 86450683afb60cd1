#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace kelvane {

// An installed application as its desktop entry names it.
struct DesktopApplication {
    std::string identifier; // desktop-file id: "org.gnome.gedit.desktop", "kde-konsole.desktop"
    std::string name;       // the entry's Name
    std::string program;    // the program its Exec starts ("gedit"; for "python3 app.py", "app.py")
    // Every name its application runs under, as the silence list names it:
    // the program (for "flatpak run", the command and the application id),
    // the entry's StartupWMClass, then its id without ".desktop", which
    // desktops compare with a window's WM_CLASS.
    std::vector<std::string> names;
};

// The applications of the desktop entries under $XDG_DATA_HOME/applications and each
// $XDG_DATA_DIRS/applications (first folder wins for an id). Entries that are hidden, not
// of type Application, or lack a name are left out. Sorted by name.
std::vector<DesktopApplication> installedApplications();

// The same over explicit "applications" folders, in precedence order.
std::vector<DesktopApplication> applicationsIn(const std::vector<std::filesystem::path>& folders);

// One desktop entry file; an application with an empty name when it is not one to offer.
DesktopApplication readDesktopEntry(const std::filesystem::path& file, const std::string& identifier);

} // namespace kelvane
