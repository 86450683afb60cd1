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
// The input method is told "okToUse" false and "closeDatabase" first. Every file is then
// staged beside its target, and the table databases are built one after the other from
// their texts into staged files, showing one import sheet. Only when every table is built
// are the staged files put in place together (plat::ReplaceJournal), config.plist last; a
// table that fails leaves the whole setup as it was, and a restore killed on the way is
// finished or undone at the next start of either program. Then the settings are loaded
// again on the main queue and the input method is released once: ["needReloadPlan"],
// "needsReloadDBLink", "configNeedsReload", "okToUse" true, ["switchCandidatesPanel"],
// ["setFontSize"]. Names from the backup that are absolute or hold ".." are refused.
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
        // True when the backup's files were put in place; false leaves the setup as it was.
        bool committed = false;
        std::vector<std::string> refusedNames;
    };

    // Off the main thread only: it waits for the main queue.
    static Outcome restoreBackup(const plat::cloud::Record& record, const TableLocations& where,
                                 ConfigManager& config, std::function<ImportSheet()> presentImportSheet);

    // Longest wait for one table import.
    static constexpr std::chrono::minutes kImportWait{30};
};

} // namespace kelvane
