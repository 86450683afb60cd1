#pragma once
#include "Settings/Functions/CodeTable.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace sqlkit {
class SQLDatabase;
}

namespace kelvane {

// Which daily-count table of "keys.db".
enum class KeyLoggerType { key, character };

// Owner of "custom.db" (custom phrases) and "keys.db" (daily key and character counts)
// in the preferences application. Each operation opens its connection and closes it
// again. Every change of "custom.db" and every operation on "keys.db" is enclosed in
// the full command bracket; reading the phrases posts nothing. Only the bulk insert
// reports success or failure. One operation at a time.
class ModelManager {
public:
    static ModelManager& shared();

    // Files in `folder`; creates the custom-phrase table and index.
    explicit ModelManager(const std::filesystem::path& folder);
    ~ModelManager();
    ModelManager(const ModelManager&) = delete;
    ModelManager& operator=(const ModelManager&) = delete;

    void createCustomTables();
    // Every phrase, in the order the file yields them.
    std::vector<CodeTable> loadCodeTable();
    // Rewrites the row of row.rowid.
    void updateCodeTable(const CodeTable& row);
    void deleteCodeTable(const std::vector<CodeTable>& rows);
    // Inserts the phrase and sets row.rowid to the new row's id.
    void insertCodeTable(CodeTable& row);
    // Inserts all in one transaction; progress(i / n) for every tenth record. False when
    // the transaction failed (a full disk, say): then none of the rows was added.
    bool insertCodeTable(const std::vector<CodeTable>& rows,
                         const std::function<void(double)>& progress = nullptr);

    // Runs the creation statements on the already opened "keys.db".
    void createKeyTables();
    // Drops and recreates both tables.
    void cleanKeyLogger();
    int64_t totalCount(KeyLoggerType table);
    int64_t count(KeyLoggerType table, int64_t year);
    int64_t count(KeyLoggerType table, int64_t year, int64_t month);
    int64_t count(KeyLoggerType table, int64_t year, int64_t month, int64_t day);

    static const char* tableName(KeyLoggerType table) { return table == KeyLoggerType::key ? "Key" : "Char"; }

private:
    // Opens custom.db (never through a link); false when it cannot be opened.
    bool openCustom();
    void openKeyLogger();
    int64_t sum(KeyLoggerType table, const char* tail, const std::vector<int64_t>& arguments);

    std::unique_ptr<sqlkit::SQLDatabase> database_;
    std::unique_ptr<sqlkit::SQLDatabase> keyLoggerDB_;
};

} // namespace kelvane
