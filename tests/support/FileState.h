#pragma once
// What a file outside the programs' folders looks like, to show it was left as it was.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace taviro::test {

inline std::string bytesOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The permission bits of what is at `p` (a link's own), 0 when nothing is there.
inline unsigned modeOf(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

// The names in a folder, sorted.
inline std::vector<std::string> namesIn(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The paths in `dir` of what was set aside from `name`: "<name>.unusable-<time>", without
// the journals that went with it.
inline std::vector<std::filesystem::path> setAsideIn(const std::filesystem::path& dir, const std::string& name) {
    const auto endsWith = [](const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n.rfind(name + ".unusable-", 0) != 0) continue;
        if (endsWith(n, "-journal") || endsWith(n, "-wal") || endsWith(n, "-shm")) continue;
        out.push_back(e.path());
    }
    return out;
}

// A file's bytes and mode, and the names beside it (a -wal or -shm that appeared).
struct FileState {
    bool exists = false;
    std::string bytes;
    unsigned mode = 0;
    std::vector<std::string> folder;
    bool operator==(const FileState&) const = default;
};

inline FileState stateOf(const std::filesystem::path& file) {
    FileState s;
    struct stat st {};
    s.exists = ::lstat(file.c_str(), &st) == 0;
    s.mode = modeOf(file);
    if (s.exists) s.bytes = bytesOf(file);
    s.folder = namesIn(file.parent_path());
    return s;
}

} // namespace taviro::test
