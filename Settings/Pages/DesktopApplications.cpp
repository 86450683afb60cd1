#include "Settings/Pages/DesktopApplications.h"

#include "Platform/Foundation/Paths.h"
#include "SharedLib/contract/ApplicationName.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

} // namespace

DesktopApplication readDesktopEntry(const fs::path& file, const std::string& identifier) {
    std::ifstream in(file);
    std::string line;
    bool inEntry = false;
    std::string name, type, exec, wmClass;
    bool hidden = false;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, eq)), value = trimmed(line.substr(eq + 1));
        if (key == "Name") name = value;
        else if (key == "Type") type = value;
        else if (key == "Exec") exec = value;
        else if (key == "StartupWMClass") wmClass = value;
        else if ((key == "Hidden" || key == "NoDisplay") && value == "true") hidden = true;
    }
    if (type != "Application" || hidden) name.clear();
    const auto runs = contract::desktopEntryNames(exec, wmClass);
    return DesktopApplication{identifier, name, runs.empty() ? std::string() : runs.front(),
                              contract::desktopEntryNames(exec, wmClass, identifier)};
}

std::vector<DesktopApplication> applicationsIn(const std::vector<fs::path>& folders) {
    std::vector<DesktopApplication> apps;
    std::set<std::string> seen;
    for (const auto& folder : folders) {
        std::error_code ec;
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            if (!it->is_regular_file(ec) || it->path().extension() != ".desktop") continue;
            std::string id = it->path().lexically_relative(folder).string();
            std::replace(id.begin(), id.end(), '/', '-');
            if (!seen.insert(id).second) continue;
            auto app = readDesktopEntry(it->path(), id);
            if (!app.name.empty()) apps.push_back(std::move(app));
        }
    }
    std::sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
        return a.name != b.name ? a.name < b.name : a.identifier < b.identifier;
    });
    return apps;
}

std::vector<DesktopApplication> installedApplications() {
    std::vector<fs::path> folders{plat::Paths::libraryFolder() / "applications"};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
    std::string dir;
    while (std::getline(list, dir, ':'))
        if (!dir.empty()) folders.push_back(fs::path(dir) / "applications");
    return applicationsIn(folders);
}

} // namespace kelvane
