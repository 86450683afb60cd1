#include "Settings/Cloud/UploadController.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Text/TextFileReader.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/DatabaseCopy.h"
#include "Settings/DatabaseFile.h"
#include "Settings/MainThread.h"

namespace kelvane {

namespace cloud = plat::cloud;

const std::vector<std::string>& refusedShareWords() {
    static const std::vector<std::string> words{"备份"};
    return words;
}

std::int64_t countTextFileLines(const std::filesystem::path& path) {
    const auto text = plat::readTextFile(path);
    return text ? static_cast<std::int64_t>(plat::splitLines(*text).size()) : 0;
}

UploadController::UploadController(std::shared_ptr<cloud::Container> container, std::filesystem::path userFolder)
    : publicDatabase_(container->publicCloudDatabase()), userFolder_(std::move(userFolder)) {}

std::shared_ptr<UploadController> UploadController::create(std::shared_ptr<cloud::Container> container,
                                                           std::filesystem::path userFolder) {
    return std::shared_ptr<UploadController>(new UploadController(std::move(container), std::move(userFolder)));
}

void UploadController::viewDidLoad() {
    hit = std::string(kindOf(codeTableType).heading);
    if (isEditMode && !record) {
        nameEnabled = false;
        desEditable = false;
        nicknameEnabled = false;
        loading = true;
        uploadButtonTitle = "保存";
    }
    changed.notify();
}

void UploadController::loadRecord(const cloud::RecordID& id) {
    isEditMode = true;
    uploadButtonTitle = "保存";
    std::weak_ptr<UploadController> weak = weak_from_this();
    publicDatabase_->fetchRecords({id}, std::nullopt, {cloud::QueuePriority::VeryHigh, kListTimeout}, {},
                                  [weak, id](cloud::FetchResult result) {
                                      std::optional<cloud::Record> found;
                                      if (auto it = result.records.find(id); it != result.records.end())
                                          found = it->second;
                                      auto error = result.error;
                                      onMain([weak, found, error] {
                                          auto self = weak.lock();
                                          if (!self) return;
                                          if (found) {
                                              self->record = found;
                                              self->fillForm(*found);
                                              return;
                                          }
                                          self->loading = false;
                                          self->pbar = self->presentSheet();
                                          self->pbar->fail("读取失败：" +
                                                           (error ? cloud::describe(*error) : std::string("条目不存在")));
                                          self->changed.notify();
                                      });
                                  });
}

void UploadController::fillForm(const cloud::Record& r) {
    name = r.stringForKey(qvfield::kName).value_or("");
    nickname = r.stringForKey(qvfield::kUploadUserName).value_or("");
    des = r.stringForKey(qvfield::kDescription).value_or("");
    pathIndicator = kKeepFile;
    chosenFile.clear();
    nameEnabled = true;
    desEditable = true;
    nicknameEnabled = true;
    deleteButtonHidden = false;
    loading = false;
    changed.notify();
}

std::filesystem::path UploadController::kindFolder() const {
    return userFolder_ / std::string(kindOf(codeTableType).folder);
}

void UploadController::selectFile(const std::filesystem::path& chosen) {
    chosenFile = chosen;
    pathIndicator = chosen.filename().string();
    changed.notify();
}

void UploadController::doUpload() {
    if (pathIndicator == kNoFile || nickname.empty() || des.empty() || name.empty()) {
        alert = AlertModel{"不能留空", "所有内容都要填满哦", {"好"}};
        changed.notify();
        return;
    }
    if (!record) uploadNewRecord();
    else saveEditedRecord();
}

bool UploadController::hasRefusedWord(const cloud::Record& r) const {
    const std::string texts[] = {r.stringForKey(qvfield::kDescription).value_or(""),
                                 r.stringForKey(qvfield::kName).value_or(""),
                                 r.stringForKey(qvfield::kUploadUserName).value_or("")};
    for (const auto& word : refusedShareWords())
        for (const auto& t : texts)
            if (t.find(word) != std::string::npos) return true;
    return false;
}

void UploadController::uploadNewRecord() {
    const CodeTableKind& kind = kindOf(codeTableType);
    cloud::Record r(std::string(rawValue(codeTableType)), cloud::RecordID::random());
    const std::filesystem::path file = chosenFile;
    if (kind.countsRowsOnUpload) r.setValue(qvfield::kRowCount, countTextFileLines(file));
    if (file.empty() || !plat::FileManager::isRegularFile(file)) {
        showUploadFailure("上传失败：找不到文件 " + file.string());
        return;
    }
    std::shared_ptr<DatabaseSnapshot> copy;
    if (!attachFile(r, file, copy)) return;
    r.setValue(qvfield::kDescription, des);
    r.setValue(qvfield::kDownloadTimes, std::int64_t{0});
    r.setValue(qvfield::kName, name);
    r.setValue(qvfield::kUploadUserName, nickname);
    r.setValue(qvfield::kVoteDownTimes, std::int64_t{0});
    r.setValue(qvfield::kVoteUpTimes, std::int64_t{0});
    if (hasRefusedWord(r)) {
        showUploadFailure();
        return;
    }
    send(std::move(r), false, std::move(copy));
}

void UploadController::saveEditedRecord() {
    if (!record) return;
    cloud::Record r = *record;
    r.setValue(qvfield::kDescription, des);
    r.setValue(qvfield::kName, name);
    r.setValue(qvfield::kUploadUserName, nickname);
    std::shared_ptr<DatabaseSnapshot> copy;
    if (pathIndicator != kKeepFile) {
        const std::filesystem::path file = chosenFile;
        if (kindOf(codeTableType).recountsRowsOnEdit) r.setValue(qvfield::kRowCount, countTextFileLines(file));
        if (file.empty() || !plat::FileManager::isRegularFile(file)) {
            showUploadFailure("上传失败：找不到文件 " + file.string());
            return;
        }
        if (!attachFile(r, file, copy)) return;
    }
    send(std::move(r), true, std::move(copy));
}

bool UploadController::attachFile(cloud::Record& r, const std::filesystem::path& file,
                                  std::shared_ptr<DatabaseSnapshot>& copy) {
    if (DatabaseFile::hasSQLiteHeader(file)) {
        std::string why;
        copy = databaseSnapshot(file, plat::Paths::perUserFolder() / kSharedCopyName, &why);
        if (!copy) {
            plat::log("Kelvane: cannot copy " + file.string() + " to share it: " + why);
            showUploadFailure("上传失败：无法读取数据库 " + file.string());
            return false;
        }
        r.setValue(qvfield::kData, cloud::Asset(copy->path()));
        return true;
    }
    r.setValue(qvfield::kData, cloud::Asset(file));
    return true;
}

void UploadController::send(cloud::Record r, bool edit, std::shared_ptr<DatabaseSnapshot> copy) {
    pbar = presentSheet();
    pbar->setStringValue("正在上传...");
    std::weak_ptr<UploadController> weak = weak_from_this();
    saveShowingProgress(publicDatabase_, std::move(r), pbar, "上传失败：", [weak, edit, copy](cloud::Record saved) {
        auto self = weak.lock();
        if (!self) return;
        if (edit) {
            self->record = saved;
            if (self->localRecord) self->localRecord->update(saved);
            if (self->afterChange) self->afterChange();
        }
        self->closeAfterUpload();
    });
}

void UploadController::showUploadFailure(const std::string& text) {
    pbar = presentSheet();
    pbar->fail(text);
}

void UploadController::closeAfterUpload() {
    pbar->dismiss();
    closed = true;
    changed.notify();
}

AlertModel UploadController::deleteQuestion() {
    return {"从栾舟云中删除此条目", "如果你这么做，那么其他用户就不能够再下载你分享的这条配置了。", {"删除", "取消"}};
}

void UploadController::deleteConfirmed() {
    if (!record) return;
    pbar = presentSheet();
    pbar->setStringValue("正在删除...");
    std::weak_ptr<UploadController> weak = weak_from_this();
    auto sheet = pbar;
    publicDatabase_->modifyRecords({}, {record->recordID()}, {cloud::QueuePriority::High, kListTimeout}, {},
                                   [weak, sheet](cloud::ModifyResult result) {
                                       onMain([weak, sheet, result = std::move(result)] {
                                           if (result.error || result.deletedRecordIDs.empty()) {
                                               sheet->fail("删除失败：" + (result.error ? cloud::describe(*result.error)
                                                                                        : std::string()));
                                               return;
                                           }
                                           auto self = weak.lock();
                                           if (!self) return;
                                           if (self->localRecord) self->localRecord->isDeleted = true;
                                           if (self->afterChange) self->afterChange();
                                           sheet->dismiss();
                                           self->closed = true;
                                           self->changed.notify();
                                       });
                                   });
}

void UploadController::dismissController() {
    closed = true;
    changed.notify();
    if (callback) callback();
}

} // namespace kelvane
