#pragma once
#include <filesystem>

namespace kelvane {

// Helpers for replacing a whole SQLite file that another process may reopen.
class DatabaseFile {
public:
    // True when the file starts with the 16-byte SQLite header.
    static bool hasSQLiteHeader(const std::filesystem::path& path);
    // True when the file opens as a database and passes "PRAGMA integrity_check".
    static bool check(const std::filesystem::path& path);
    // A path in the same folder as target that does not exist yet.
    static std::filesystem::path temporaryPathBeside(const std::filesystem::path& target);
    // Removes the file and its -journal, -wal and -shm companions; missing ones are fine.
    static void removeWithCompanions(const std::filesystem::path& path);
    // Renames the finished temporary over target, after dropping target's stale
    // companions. On failure the temporary is removed and target is left as it was.
    static bool replace(const std::filesystem::path& temporary, const std::filesystem::path& target);
};

} // namespace kelvane
