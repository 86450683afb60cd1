#pragma once
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kelvane {

class TemporaryDatabase;

// Why a database copy failed: the step, and SQLite's or the system's words.
struct DatabaseCopyError {
    enum class Step { OpenSource, OpenDestination, Copy, Check };
    Step step;
    std::string detail;
};

// Copies the database at `source` into `destination` (a new or empty file) through
// SQLite's backup, never as a file: a source in WAL mode that another program holds open
// is read with what its -wal holds. The copy is put in rollback-journal mode (no -wal or
// -shm stays beside it), must pass "PRAGMA integrity_check", and is flushed to disk.
// Waits a few seconds at most for a lock on the source.
std::optional<DatabaseCopyError> copyDatabase(const std::filesystem::path& source,
                                              const std::filesystem::path& destination);

// Puts the database file at `path`, which no other program uses, in rollback-journal
// mode and checks it, so that nothing is left beside it: a file copied from a database
// in WAL mode would otherwise make its next reader create "-wal" and "-shm" there.
std::optional<DatabaseCopyError> settleDatabase(const std::filesystem::path& path);

// A checked copy (copyDatabase) of the database at `source` in a temporary beside
// `target`, for a file to send while the database may change: it lives as long as the
// returned object. Nothing, and `why`, when it cannot be made.
std::shared_ptr<TemporaryDatabase> databaseSnapshot(const std::filesystem::path& source,
                                                    const std::filesystem::path& target, std::string* why);

} // namespace kelvane
