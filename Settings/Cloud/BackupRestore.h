#pragma once
#include "Platform/Cloud/CloudRecord.h"
#include "Settings/ProgressSink.h"
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ConfigOptions.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class ConfigManager;

// Field keys of a "Backups" record.
namespace backupfield {
inline constexpr const char* kComment = "Comment";
inline constexpr const char* kConfig = "Config";
inline constexpr const char* kAssistCodeTable = "AssistCodeTable";
inline constexpr const char* kBootButton = "BootButton";
inline constexpr const char* kCodeTable = "CodeTable";
inline constexpr const char* kCustomCodeTable = "CustomCodeTable";
inline constexpr const char* kDeviceType = "DeviceType";
inline constexpr const char* kSPPlan = "SPPlan";
inline constexpr const char* kSilenceDict = "SilenceDict";
inline constexpr const char* kPunctuationMapping = "PunctuationMapping";
} // namespace backupfield


// Puts a fetched backup in place of the current setup.
//
// The input method is told "okToUse" false and "closeDatabase" first; every file is
// written whole and atomically (a database replacement drops stale -journal, -wal and
// -shm files); the table databases are rebuilt one after the other from their texts,
// each into a temporary file renamed only on success, showing one import sheet; then,
// after the imports have ended, the settings are loaded again on the main queue and the
// input method is released once: ["needReloadPlan"], "needsReloadDBLink",
// "configNeedsReload", "okToUse" true, ["switchCandidatesPanel"], ["setFontSize"].
// Names from the backup that are absolute or hold ".." are refused.
class BackupRestore {
public:
    // The import sheet: what the importer reports to, and how it ends (closed on success,
    // left with its Done button enabled on failure).
    struct ImportSheet {
        std::shared_ptr<ProgressSink> sink;
        std::function<void(bool ok)> finish;
    };

    struct Outcome {
        int importsStarted = 0;
        bool importsSucceeded = true;
        std::vector<std::string> refusedNames;
    };

    // Off the main thread only: it waits for the main queue.
    static Outcome restoreBackup(const plat::cloud::Record& record, const TableLocations& where,
                                 ConfigManager& config, std::function<ImportSheet()> presentImportSheet);

    // Longest wait for one table import.
    static constexpr std::chrono::minutes kImportWait{30};
};

} // namespace kelvane
