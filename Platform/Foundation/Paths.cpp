#include "Platform/Foundation/Paths.h"

#include "Platform/Foundation/FileUtil.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

const char kPerUserName[] = "TaviroMac";
const char kUserName[] = "塔维输入法";

// An environment variable that is set to an absolute path (XDG rules ignore
// relative values).
std::optional<fs::path> absoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return std::nullopt;
    fs::path p(v);
    if (!p.is_absolute()) return std::nullopt;
    return p;
}

fs::path dataHome() {
    if (auto p = absoluteEnv("XDG_DATA_HOME")) return *p;
    return Paths::homeFolder() / ".local" / "share";
}

fs::path configHome() {
    if (auto p = absoluteEnv("XDG_CONFIG_HOME")) return *p;
    return Paths::homeFolder() / ".config";
}

fs::path executableFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec);
    return exe.parent_path();
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs text: a line
// XDG_DOCUMENTS_DIR="$HOME/..." or an absolute path in quotes.
std::optional<fs::path> documentsFromUserDirs(const std::string& text) {
    std::optional<fs::path> found;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        constexpr std::string_view key = "XDG_DOCUMENTS_DIR=";
        if (line.substr(0, key.size()) != key) continue;
        line.remove_prefix(key.size());
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
            line = line.substr(1, line.size() - 2);
        std::string value;
        for (std::size_t i = 0; i < line.size(); ++i) { // undo shell escapes
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value += line[i];
        }
        fs::path p;
        if (value == "$HOME") {
            p = Paths::homeFolder();
        } else if (value.rfind("$HOME/", 0) == 0) {
            p = Paths::homeFolder() / value.substr(6);
        } else if (!value.empty() && value.front() == '/') {
            p = value;
        } else {
            continue;
        }
        found = p; // the last assignment wins, as in the shell
    }
    return found;
}

} // namespace

fs::path Paths::homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h) return fs::path(h);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return fs::path(pw->pw_dir);
    return fs::path("/");
}

fs::path Paths::perUserFolder() { return dataHome() / kPerUserName; }

fs::path Paths::perUserFile(std::string_view name) { return perUserFolder() / fs::path(name); }

bool Paths::ensureFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

bool Paths::ensurePerUserFolder() { return ensureFolder(perUserFolder()); }

fs::path Paths::documentsFolder() {
    if (auto text = readWholeFile(configHome() / "user-dirs.dirs")) {
        if (auto p = documentsFromUserDirs(*text)) return *p;
    }
    return homeFolder() / "Documents";
}

fs::path Paths::userFolder() { return documentsFolder() / kUserName; }

fs::path Paths::userFile(std::string_view name) { return userFolder() / fs::path(name); }

bool Paths::ensureUserFolder() { return ensureFolder(userFolder()); }

fs::path Paths::libraryFolder() { return dataHome(); }

fs::path Paths::resourceFolder(Bundle bundle) {
    const bool taviro = bundle == Bundle::TaviroMac2;
    if (const char* v = std::getenv(taviro ? "TAVIRO_RESOURCES" : "KELVANE_RESOURCES"); v && *v)
        return fs::path(v);
    return (executableFolder() / ".." / "share" / (taviro ? "TaviroMac2" : "Kelvane")).lexically_normal();
}

std::optional<fs::path> Paths::resourcePath(Bundle bundle, std::string_view name) {
    if (!isSafeRelativeName(name)) return std::nullopt;
    fs::path p = resourceFolder(bundle) / fs::path(name);
    std::error_code ec;
    if (!fs::exists(p, ec)) return std::nullopt;
    return p;
}

std::optional<fs::path> Paths::resourcePath(Bundle bundle, std::string_view name,
                                            std::string_view type) {
    std::string full(name);
    if (!type.empty()) {
        full += '.';
        full += type;
    }
    return resourcePath(bundle, full);
}

bool Paths::isSafeRelativeName(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    if (name.find('\0') != std::string_view::npos) return false;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t end = name.find('/', pos);
        if (end == std::string_view::npos) end = name.size();
        std::string_view part = name.substr(pos, end - pos);
        if (part.empty() || part == "." || part == "..") return false;
        pos = end + 1;
    }
    return true;
}

} // namespace plat
