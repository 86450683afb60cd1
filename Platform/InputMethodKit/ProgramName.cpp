#include "Platform/InputMethodKit/ProgramName.h"

#include "SharedLib/contract/ApplicationName.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace plat {

std::string programNameOfProcess(long pid) {
    if (pid <= 0) return {};
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> argv;
    for (std::string word; in && argv.size() < 64 && std::getline(in, word, '\0');) argv.push_back(std::move(word));
    if (argv.empty() || argv.front().empty()) return {};
    return contract::programNameOfCommand(argv);
}

std::string programNameFromClient(const std::string& client) {
    for (const char* prefix : {"gtk3-im:", "gtk4-im:", "gtk-im:"}) {
        const std::string p(prefix);
        if (client.size() > p.size() && client.compare(0, p.size(), p) == 0) return client.substr(p.size());
    }
    return {};
}

namespace {

// Client names that say which toolkit or bridge talks to IBus, not which program.
bool namesToolkitOnly(const std::string& client) {
    for (const char* name : {"", "fake", "xim", "QIBusInputContext", "wayland"})
        if (client == name) return true;
    return client.rfind("gtk", 0) == 0 && client.find("-im:") != std::string::npos;
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

} // namespace

std::vector<std::string> clientApplicationNames(const std::optional<WindowIdentity>& window,
                                                const std::string& client) {
    std::vector<std::string> names;
    auto add = [&](const std::string& name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    };
    if (window) {
        add(window->program);
        add(window->wmInstance);
        add(window->wmClass);
    }
    std::string own = programNameFromClient(client);
    if (own.empty() && !namesToolkitOnly(client)) own = client;
    const bool windowCounts =
        own.empty() || std::any_of(names.begin(), names.end(), [&](const std::string& n) { return sameName(n, own); });
    if (!windowCounts) names.clear();
    else if (window) {
        // The forms in which desktops find a desktop-file id in WM_CLASS.
        add(contract::windowClassAsDesktopId(window->wmInstance));
        add(contract::windowClassAsDesktopId(window->wmClass));
    }
    add(names.empty() && own.empty() ? client : own);
    return names;
}

} // namespace plat
