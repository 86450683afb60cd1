#pragma once
#include "Settings/Functions/ExtendedController/CellDict.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class ConfigManager;
class ExtendedDatabasetManager;
class PbarController;

// The word-library page: the libraries imported into "extended.db" (ticked), then the
// text files of the "Extended" folder not imported yet (unticked). Ticking a file imports
// it, unticking a library removes its words, "+" copies files in, "-" removes the entry.
// Imports and removals run on a worker behind the progress sheet; everything else, and
// every continuation, runs on the main queue.
class ExtendedPage {
public:
    // Presents a progress sheet for one job; none when no sheet can be shown.
    using SheetFactory = std::function<std::shared_ptr<PbarController>()>;

    static constexpr double kRowHeight = 25.0;
    static constexpr const char* kWorking = "处理中...";

    // The user folder's "Extended" folder and the per-user "extended.db".
    ExtendedPage(ConfigManager& config, SheetFactory presentSheet);
    ExtendedPage(ConfigManager& config, std::filesystem::path databasePath, std::filesystem::path libraryFolder,
                 SheetFactory presentSheet);
    ~ExtendedPage();

    // Scans the folder again (nothing changes while "ExtendedDict" is off or the folder
    // is missing) and tells onChange.
    void reloadList();

    int rowCount() const { return int(cells_.size() + dicts_.size()); }
    bool imported(int row) const { return row >= 0 && row < int(cells_.size()); }
    std::string name(int row) const;
    // "1200 条" for a library of 1200 rows, "-- 条" for a file not imported.
    std::string rowCountText(int row) const;
    const std::vector<CellDict>& cells() const { return cells_; }
    const std::vector<std::string>& dicts() const { return dicts_; }
    const std::filesystem::path& libraryFolder() const { return libraryFolder_; }

    // "+": copies the files into the folder, replacing files of the same name, then rescans.
    void addFiles(const std::vector<std::filesystem::path>& files);
    // "-": deletes a file entry at once; removes an imported library's words behind the
    // sheet, then its file. No row (-1) does nothing.
    void removeRow(int row);
    // A row's check box: imports a file entry, removes an imported library's words (its
    // file stays). `done`, when given, runs on the main queue once the job has ended.
    void toggleRow(int row, std::function<void(bool)> done = nullptr);

    static std::string helpText();

    // Called on the main queue after the lists changed.
    std::function<void()> onChange;

private:
    void removeLibrary(int row, bool withFile, std::function<void(bool)> done);
    void deleteFile(const std::string& name);

    ConfigManager& config_;
    std::filesystem::path libraryFolder_;
    std::shared_ptr<ExtendedDatabasetManager> database_;
    SheetFactory presentSheet_;
    std::vector<std::string> dicts_;
    std::vector<CellDict> cells_;
    // Lets a job that ends after the page is gone skip the page.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kelvane
