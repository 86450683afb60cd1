#pragma once
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kelvane {

// A checked copy of a database in a hidden temporary ".<file>~taviro-tmp~<letters>"
// (0600), held (flock) while the object lives so that the start-up clean-up leaves it, and
// removed with what SQLite made beside it when the object goes. A copy a killed program
// left is removed by that clean-up.
class DatabaseSnapshot {
public:
    ~DatabaseSnapshot();
    DatabaseSnapshot(const DatabaseSnapshot&) = delete;
    DatabaseSnapshot& operator=(const DatabaseSnapshot&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    friend std::shared_ptr<DatabaseSnapshot> databaseSnapshot(const std::filesystem::path&,
                                                              const std::filesystem::path&, std::string*);
    DatabaseSnapshot(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::filesystem::path path_;
    int fd_ = -1;
};

// Why a database copy failed: the step, and SQLite's or the system's words.
struct DatabaseCopyError {
    enum class Step { OpenSource, OpenDestination, Copy, Check };
    Step step;
    std::string detail;
    // SQLite's result code when it gave one, else 0.
    int code = 0;
};

// Copies the database at `source` into `destination` (a new or empty file) through
// SQLite's backup, never as a file: a source in WAL mode that another program holds open
// is read with what its -wal holds, and nothing is left beside the source that was not
// there. The copy is put in rollback-journal mode (no -wal or -shm stays beside it), must
// pass "PRAGMA integrity_check", and is flushed to disk. Waits a few seconds at most for a
// lock on the source.
std::optional<DatabaseCopyError> copyDatabase(const std::filesystem::path& source,
                                              const std::filesystem::path& destination);

// Puts the database file at `path`, which no other program uses, in rollback-journal
// mode and checks it, so that nothing is left beside it: a file copied from a database
// in WAL mode would otherwise make its next reader create "-wal" and "-shm" there.
std::optional<DatabaseCopyError> settleDatabase(const std::filesystem::path& path);

// A checked copy (copyDatabase) of the database at `source` in a temporary beside
// `target` (a file the programs write, so that the start-up clean-up knows its
// temporaries), for a file to send while the database may change: it lives as long as the
// returned object. Nothing, and `why`, when it cannot be made.
std::shared_ptr<DatabaseSnapshot> databaseSnapshot(const std::filesystem::path& source,
                                                   const std::filesystem::path& target, std::string* why);

} // namespace kelvane
