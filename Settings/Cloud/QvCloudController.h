#pragma once
#include "Platform/Cloud/CloudDatabase.h"
#include "Settings/Cloud/ChangeSignal.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Cloud/QvRecord.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kelvane {

class UploadController;

// The sharing screen: lists the shared tables of one kind, most downloaded first, shows
// the selected one, downloads it into the user folder and opens the upload sheet.
// Main thread only; store answers come back through the main queue.
class QvCloudController : public std::enable_shared_from_this<QvCloudController> {
public:
    static std::shared_ptr<QvCloudController> create(std::shared_ptr<plat::cloud::Container> container,
                                                     std::filesystem::path userFolder,
                                                     std::set<std::string> moderators = {});

    // Most records one list shows; the query follows cursors up to it.
    static constexpr std::size_t kListCap = 1000;
    static constexpr std::size_t kBatch = 200;

    void viewDidLoad();
    void viewDidAppear();
    // The kind selector: 1 assist, 2 map, 3 bootButton, 4 extended, anything else main.
    void changeClass(int segment);
    void queryRecords();
    void showRecord(const std::shared_ptr<QvRecord>& record);
    void clearRecord();
    void selectionChanged(int row);
    void downloadTap();
    // The upload sheet for a new share, or for editing the current record (nothing when
    // there is none). The view presents it.
    std::shared_ptr<UploadController> uploadTap();
    std::shared_ptr<UploadController> editTap();

    int numberOfRows() const { return static_cast<int>(records.size()); }
    std::string cellText(int row) const;

    CodeTableType codeTableType = CodeTableType::main;
    std::vector<std::shared_ptr<QvRecord>> records;
    std::shared_ptr<QvRecord> currentRecord;
    int selectedRow = -1;

    bool blockBoxHidden = true;
    bool loading = false;
    std::string codeTableNameText, codeTableDesText, uploaderNameText, codeTableUpdateTimeText;
    bool downloadButtonHidden = true, editButtonHidden = true;
    bool downloadEnabled = false, uploadEnabled = false;
    std::string storeText;  // what and where the store is, and the account
    std::string statusText; // the last failure of a list, empty when fine
    std::string lastPlacedFile;

    // Presents a progress sheet for one job (the view shows it over the window).
    std::function<std::shared_ptr<PbarController>()> presentSheet = [] { return PbarController::make(); };
    // The sheet of the last job.
    std::shared_ptr<PbarController> pbar;
    ChangeSignal changed;

private:
    QvCloudController(std::shared_ptr<plat::cloud::Container> container, std::filesystem::path userFolder,
                      std::set<std::string> moderators);
    std::shared_ptr<UploadController> makeSheet();

    std::shared_ptr<plat::cloud::Container> container_;
    std::shared_ptr<plat::cloud::Database> publicDatabase_;
    std::filesystem::path userFolder_;
    std::set<std::string> moderators_;
    int generation_ = 0;
};

} // namespace kelvane
