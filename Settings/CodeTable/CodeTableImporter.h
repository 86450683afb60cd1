#pragma once
#include "Settings/ProgressSink.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace kelvane {

// Turns a code-table text file into the rows of a main code table ("CodeTable") or an
// assist-code table ("CodeTable" and "TableCode"). Must run off the main thread: it
// waits on the main queue. Progress, status texts and the completion reach the main
// queue; the completion is called exactly once, true when the table was imported.
class CodeTableImporter {
public:
    using Completion = std::function<void(bool)>;

    // Fills the database at dbPath, whose tables (and "CodeTable_index") must exist.
    // A refused or stopped import leaves it as it was.
    static void importFile(const std::filesystem::path& textPath, const std::filesystem::path& dbPath,
                           bool assist, std::shared_ptr<ProgressSink> sink, Completion completion);

    // Builds a fresh database from the template into a temporary file beside dbPath,
    // imports into it, checks it and only then renames it over dbPath (dropping stale
    // -journal, -wal and -shm files). On any failure dbPath keeps its old database.
    static void rebuildDatabase(const std::filesystem::path& templatePath,
                                const std::filesystem::path& textPath, const std::filesystem::path& dbPath,
                                bool assist, std::shared_ptr<ProgressSink> sink, Completion completion);

    // As rebuildDatabase, but builds into `stagedPath`, an existing file the caller holds
    // and later puts in place itself; on failure its content is of no use.
    static void buildDatabase(const std::filesystem::path& templatePath, const std::filesystem::path& textPath,
                              const std::filesystem::path& stagedPath, bool assist,
                              std::shared_ptr<ProgressSink> sink, Completion completion);

    // Most bad lines that an import tolerates; one more stops it.
    static constexpr int kMaxBadLines = 50;
};

} // namespace kelvane
