#pragma once
#include "Settings/ProgressSink.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace kelvane {

class ConfigManager;

// Where the choosers find their files.
struct TableLocations {
    std::filesystem::path perUserFolder;  // holds the databases
    std::filesystem::path userFolder;     // holds the text tables ("AssistCodes" for assist tables)
    std::filesystem::path resourceFolder; // holds the templates

    // The folders of this user and program.
    static TableLocations current();
};

// Choosing a main code table or an assist table: a new database is built beside the live
// one from the application's template and the chosen text table, in the background, while
// the input method goes on using the old one. Then the input method is told to let go of
// its databases, the new file is renamed into place, the result is saved in the settings,
// and the input method is told to reopen and use its databases again.
//
// Commands, in order, all after the build: "okToUse" false, "closeDatabase", on success
// the saves of the name then version 1 ("configNeedsReload" for each),
// "needsReloadDBLink", "okToUse" true.
// On failure the old database, its name and its version stay as they were.
// Call on the main thread; `done` runs on the main queue, after the commands.
class CodeTableChooser {
public:
    using Done = std::function<void(bool)>;

    // "<user folder>/<title>.txt" into "mainCodeTable.database" (template
    // "codetable.database"); keys "CodeTableName" and "CodeTableVersion".
    static void selectMainCodeTable(const std::string& title, std::shared_ptr<ProgressSink> sink, Done done);
    // "<user folder>/AssistCodes/<title>.txt" into "assist.database" (template
    // "assist.database"); keys "AssistPlanName" and "AssistCodePlan".
    static void selectAssistTable(const std::string& title, std::shared_ptr<ProgressSink> sink, Done done);

    // Removes what a killed rebuild left beside the two databases in the per-user folder
    // (a rebuild still running keeps its files). Run once when the program starts.
    static void removeStaleRebuilds(const TableLocations& where);

    // The same with explicit settings and folders.
    static void selectMainCodeTable(ConfigManager& config, const TableLocations& where, const std::string& title,
                                    std::shared_ptr<ProgressSink> sink, Done done);
    static void selectAssistTable(ConfigManager& config, const TableLocations& where, const std::string& title,
                                  std::shared_ptr<ProgressSink> sink, Done done);
};

} // namespace kelvane
