#pragma once
#include <filesystem>
#include <functional>
#include <string>

namespace sqlkit {
class SQLDatabase;
}

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
    // Removes the rebuild temporaries of target beside it (and their -journal, -wal and
    // -shm files) that no running import holds: those a killed program left behind.
    static void removeStaleTemporaries(const std::filesystem::path& target);

    // Opens `db`, one of the programs' own databases in the per-user folder, for reading
    // and writing without following a link: a link or a hard-linked file in its place
    // (or a journal's) is set aside first and the user told. With `typed` (what the
    // user typed) the file and its journals are 0600.
    static bool openOwn(sqlkit::SQLDatabase& db, bool typed);
    // What was set aside since the last call, as sentences for the user; empty for nothing.
    static std::string takeSetAsideMessage();
    // Run on the main queue after something was set aside; set and cleared there too.
    static void setSetAsideListener(std::function<void()> listener);
};

// A temporary database file beside a target, held (an flock on it) for the life of the
// object so that removeStaleTemporaries, in any process, leaves it alone. The file and
// its companions are removed by the destructor unless it was put in place.
class TemporaryDatabase {
public:
    explicit TemporaryDatabase(const std::filesystem::path& target);
    ~TemporaryDatabase();
    TemporaryDatabase(const TemporaryDatabase&) = delete;
    TemporaryDatabase& operator=(const TemporaryDatabase&) = delete;

    // False when the file could not be created.
    bool created() const { return fd_ >= 0; }
    const std::filesystem::path& path() const { return path_; }
    // Fills the file with a copy of source.
    bool copyFrom(const std::filesystem::path& source);
    // DatabaseFile::replace onto the target.
    bool putInPlace();

private:
    std::filesystem::path target_, path_;
    int fd_ = -1;
    bool placed_ = false;
};

} // namespace kelvane
