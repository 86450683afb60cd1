#pragma once
#include "Platform/Cloud/CloudDatabase.h"
#include "Settings/Cloud/ChangeSignal.h"
#include "Settings/Cloud/BackupRestore.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Cloud/UploadController.h"
#include "Settings/CodeTable/CodeTableChooser.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelvane {

class ConfigManager;
class DatabaseSnapshot;

// A "Backups" record ready to save, with the copies of databases that its assets name:
// they live until the record has been saved.
struct BackupRecord {
    plat::cloud::Record record;
    std::vector<std::shared_ptr<DatabaseSnapshot>> copies;
};

// A one-character numeral for code lengths 3 to 10; "四" for every other value.
std::string chineseNumeral(int n);
// The name of the punctuation map file in the per-user folder.
const std::string& punctuationMappingFileName();

// A text prompt: the view shows it and hands the typed text to the presenter.
struct PromptModel {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;
};

// The Backups page: backs the setup up as one "Backups" record of the private database,
// lists the backups newest first, restores and deletes them. Main thread only.
class BackupsController : public std::enable_shared_from_this<BackupsController> {
public:
    static std::shared_ptr<BackupsController> create(std::shared_ptr<plat::cloud::Container> container,
                                                     TableLocations where, ConfigManager& config);

    static constexpr std::size_t kListCap = 1000;
    static constexpr std::size_t kBatch = 200;
    static constexpr const char* kDeviceType = "Linux";

    void viewDidLoad();
    void viewDidAppear();
    void queryBackups();

    int numberOfRows() const { return static_cast<int>(records.size()); }
    // "日期", "来源设备" or "备注"; empty for any other title.
    std::string cellText(int row, std::string_view columnTitle) const;

    // Backup: the view asks with backupPrompt() and passes the typed comment.
    static PromptModel backupPrompt();
    void backup(const std::string& comment);
    // The record, or the message that says why there is none. A database goes in as a
    // checked copy made through SQLite, with what its -wal holds.
    std::variant<BackupRecord, std::string> makeBackupRecord(const std::string& comment) const;

    // Restore and delete act on `selectedRow`; nothing when no row is selected.
    std::optional<AlertModel> restoreQuestion() const;
    void restoreConfirmed();
    std::optional<AlertModel> deleteQuestion() const;
    void deleteConfirmed();

    bool blockHidden = true;
    bool indicatorAnimating = false;
    int selectedRow = -1;
    std::vector<plat::cloud::Record> records;
    std::string storeText;
    std::string statusText;
    int restoresFinished = 0;

    // Presents a progress sheet for one job (the view shows it over the window).
    std::function<std::shared_ptr<PbarController>()> presentSheet = [] { return PbarController::make(); };
    // The sheet of the last job.
    std::shared_ptr<PbarController> pbar;
    // The import sheet of a restore: by default a sheet of presentSheet, kept in importSheet.
    std::function<BackupRestore::ImportSheet()> presentImportSheet;
    std::shared_ptr<PbarController> importSheet;
    ChangeSignal changed;

private:
    BackupsController(std::shared_ptr<plat::cloud::Container> container, TableLocations where, ConfigManager& config);
    const plat::cloud::Record* selected() const;

    std::shared_ptr<plat::cloud::Container> container_;
    std::shared_ptr<plat::cloud::Database> privateDatabase_;
    TableLocations where_;
    ConfigManager& config_;
    int generation_ = 0;
};

} // namespace kelvane
