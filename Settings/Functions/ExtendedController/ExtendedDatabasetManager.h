#pragma once
#include "Settings/Functions/ExtendedController/CellDict.h"
#include "Settings/ImportReporter.h"
#include "Settings/ProgressSink.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// The only writer of "extended.db", the user's word libraries: "CellsInfo" lists them,
// "w2" .. "w10" hold their words by syllable count. Every operation opens its own
// connection and closes it again, enclosed in "okToUse" false and true.
class ExtendedDatabasetManager {
public:
    // "extended.db" in the per-user folder; library files in "Extended" of the user folder.
    ExtendedDatabasetManager();
    ExtendedDatabasetManager(std::filesystem::path databasePath, std::filesystem::path libraryFolder);

    void executeScript(const std::string& script);
    void createTables();
    void createIndexes();
    void dropIndexes();

    // All libraries, by name in descending order. Entries whose name could reach outside
    // the library folder (absolute, or holding "..") are left out.
    std::vector<CellDict> loadCells();
    std::optional<CellDict> findCell(const std::string& name);
    void insertCell(const std::string& name, int64_t id, int64_t rowCount);
    // Removes the library's words and its "CellsInfo" row in one transaction, then
    // compacts the file.
    void deleteCell(int64_t id);

    // Imports "<library folder>/<name>.txt" as the library `name`. The look-up and
    // replacement of earlier libraries of that name happen in the import's own write
    // transaction, so an earlier library goes only once the new one is in, and two
    // imports of one name leave one library. Must run off the main thread; progress,
    // texts and the completion (called once) reach the main queue; every refusal says
    // why on the sheet.
    void importWordLibrary(const std::string& name, std::shared_ptr<ProgressSink> sink,
                           std::function<void(bool)> completion);

    // The text file of a library, or none for a name that could leave the folder.
    std::optional<std::filesystem::path> libraryPath(const std::string& name) const;

    const std::filesystem::path& databasePath() const { return databasePath_; }

    static constexpr size_t kMaxLines = 600000;
    static constexpr int kMaxBadLines = 50000;
    static constexpr int64_t kIdLimit = 100000000;
    // Larger library files are refused before they are read.
    static constexpr std::uintmax_t kMaxFileBytes = kMaxImportFileBytes;

private:
    enum class Outcome { Done, Refused, TooLarge, Stopped, BadName, Busy, Failed };
    Outcome runImport(const std::string& name, ImportReporter& reporter);

    std::filesystem::path databasePath_;
    std::filesystem::path libraryFolder_;
};

} // namespace kelvane
