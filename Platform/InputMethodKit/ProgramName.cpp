#include "Platform/InputMethodKit/ProgramName.h"

#include "SharedLib/contract/ApplicationName.h"

#include <fstream>

namespace plat {

std::string programNameOfProcess(long pid) {
    if (pid <= 0) return {};
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string first;
    if (!in || !std::getline(in, first, '\0')) return {};
    return contract::programName(first);
}

std::string programNameFromClient(const std::string& client) {
    for (const char* prefix : {"gtk3-im:", "gtk4-im:", "gtk-im:"}) {
        const std::string p(prefix);
        if (client.size() > p.size() && client.compare(0, p.size(), p) == 0) return client.substr(p.size());
    }
    return {};
}

} // namespace plat
