#pragma once
#include "Platform/Cloud/CloudDatabase.h"
#include "Settings/Cloud/ChangeSignal.h"
#include "Settings/Pages/PbarController.h"
#include "Settings/Cloud/QvRecord.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// The per-user file whose temporaries hold the copies of databases being shared; the
// start-up clean-up knows it (plat::programFolders).
inline constexpr const char* kSharedCopyName = "sharedTable.db";

class DatabaseSnapshot;

// A modal question or notice the view shows; the first button is the default.
struct AlertModel {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;
};

// Words a new share may not hold in its name, description or nickname.
const std::vector<std::string>& refusedShareWords();

// Lines of a text file (encoding detected); 0 when it cannot be read as text.
std::int64_t countTextFileLines(const std::filesystem::path& path);

// The upload sheet: shares a new table of one kind, or edits or deletes the user's own
// shared record. The screen's model of an edited record changes only after the store
// took the change. Main thread only.
class UploadController : public std::enable_shared_from_this<UploadController> {
public:
    static std::shared_ptr<UploadController> create(std::shared_ptr<plat::cloud::Container> container,
                                                    std::filesystem::path userFolder);

    static constexpr const char* kNoFile = "...";
    static constexpr const char* kKeepFile = "不变更";

    // Set by the opener.
    CodeTableType codeTableType = CodeTableType::main;
    std::shared_ptr<QvRecord> localRecord;
    std::function<void()> callback;    // run when the user closes the sheet
    std::function<void()> afterChange; // run after a saved edit or a delete

    void viewDidLoad();
    void loadRecord(const plat::cloud::RecordID& id);
    void fillForm(const plat::cloud::Record& record);

    // The folder the file panel starts in.
    std::filesystem::path kindFolder() const;
    // The file the user chose, by its full path.
    void selectFile(const std::filesystem::path& chosen);
    // The form check, then the upload or the save.
    void doUpload();
    void uploadNewRecord();
    void saveEditedRecord();
    bool hasRefusedWord(const plat::cloud::Record& record) const;
    void showUploadFailure(const std::string& text = "上传失败。");
    void closeAfterUpload();

    static AlertModel deleteQuestion();
    // After the user confirmed deleteQuestion().
    void deleteConfirmed();
    // The sheet's close control: closes, then runs `callback`.
    void dismissController();
    // The view has shown `alert`.
    void alertShown() { alert.reset(); }

    // Form and controls.
    std::string hit;
    std::string name, nickname, des;
    std::string pathIndicator = kNoFile;
    std::filesystem::path chosenFile;
    bool nameEnabled = true, desEditable = true, nicknameEnabled = true;
    bool loading = false;
    bool deleteButtonHidden = true;
    std::string uploadButtonTitle = "上传";
    bool isEditMode = false;
    bool closed = false;
    std::optional<plat::cloud::Record> record;
    std::optional<AlertModel> alert;

    // Presents a progress sheet for one job (the view shows it over the window).
    std::function<std::shared_ptr<PbarController>()> presentSheet = [] { return PbarController::make(); };
    // The sheet of the last job.
    std::shared_ptr<PbarController> pbar;
    ChangeSignal changed;

private:
    UploadController(std::shared_ptr<plat::cloud::Container> container, std::filesystem::path userFolder);
    void send(plat::cloud::Record record, bool edit, std::shared_ptr<DatabaseSnapshot> copy);
    // Sets the record's file. A database goes as a checked copy made through SQLite, kept
    // in `copy` until the save ends; false (failure shown) when that copy cannot be made.
    bool attachFile(plat::cloud::Record& record, const std::filesystem::path& file,
                    std::shared_ptr<DatabaseSnapshot>& copy);

    std::shared_ptr<plat::cloud::Database> publicDatabase_;
    std::filesystem::path userFolder_;
};

} // namespace kelvane
