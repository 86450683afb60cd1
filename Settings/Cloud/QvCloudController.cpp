#include "Settings/Cloud/QvCloudController.h"

#include "Settings/Cloud/CloudStore.h"
#include "Settings/Cloud/UploadController.h"
#include "Settings/MainThread.h"

namespace kelvane {

namespace cloud = plat::cloud;

QvCloudController::QvCloudController(std::shared_ptr<cloud::Container> container, std::filesystem::path userFolder,
                                     std::set<std::string> moderators)
    : container_(std::move(container)), userFolder_(std::move(userFolder)), moderators_(std::move(moderators)) {
    publicDatabase_ = container_->publicCloudDatabase();
}

std::shared_ptr<QvCloudController> QvCloudController::create(std::shared_ptr<cloud::Container> container,
                                                             std::filesystem::path userFolder,
                                                             std::set<std::string> moderators) {
    if (moderators.empty()) moderators = moderatorRecordNames();
    return std::shared_ptr<QvCloudController>(
        new QvCloudController(std::move(container), std::move(userFolder), std::move(moderators)));
}

void QvCloudController::viewDidLoad() {
    storeText = container_->storeDescription() + "　账号：" + container_->accountName();
    statusText = container_->storeNotice();
    if (container_->accountStatus() != cloud::AccountStatus::Available) {
        blockBoxHidden = false;
        changed.notify();
        return;
    }
    clearRecord();
    queryRecords();
    auto moderators = moderators_;
    container_->fetchUserRecordID({cloud::QueuePriority::VeryHigh, kListTimeout},
                                  [moderators](std::optional<cloud::RecordID> id, std::optional<cloud::Error>) {
                                      if (id && moderators.count(id->recordName)) isModerator().store(true);
                                  });
}

void QvCloudController::viewDidAppear() {
    downloadEnabled = true;
    uploadEnabled = true;
    changed.notify();
}

void QvCloudController::changeClass(int segment) {
    switch (segment) {
    case 1: codeTableType = CodeTableType::assist; break;
    case 2: codeTableType = CodeTableType::map; break;
    case 3: codeTableType = CodeTableType::bootButton; break;
    case 4: codeTableType = CodeTableType::extended; break;
    default: codeTableType = CodeTableType::main; break;
    }
    // A record of the previous kind must not be downloaded as one of this kind.
    clearRecord();
    records.clear();
    selectedRow = -1;
    queryRecords();
}

void QvCloudController::queryRecords() {
    loading = true;
    statusText = container_->storeNotice();
    changed.notify();
    const int generation = ++generation_;
    std::weak_ptr<QvCloudController> weak = weak_from_this();
    struct Run {
        std::shared_ptr<cloud::Database> db;
        std::vector<std::shared_ptr<QvRecord>> found;
        std::size_t seen = 0;
        std::function<void(cloud::QueryResult)> step;
    };
    auto run = std::make_shared<Run>();
    run->db = publicDatabase_;
    const cloud::DesiredKeys keys = std::vector<std::string>{qvfield::kDescription, qvfield::kName,
                                                             qvfield::kDownloadTimes, qvfield::kUploadUserName,
                                                             qvfield::kRowCount};
    const cloud::OperationOptions options{cloud::QueuePriority::VeryHigh, kListTimeout};
    run->step = [weak, generation, run, keys, options](cloud::QueryResult result) {
        for (const auto& r : result.records) {
            if (auto model = QvRecord::make(r)) run->found.push_back(std::make_shared<QvRecord>(std::move(*model)));
        }
        run->seen += result.records.size();
        if (!result.error && result.cursor && run->seen < kListCap) {
            run->db->continueQuery(*result.cursor, keys, std::min(kBatch, kListCap - run->seen), options,
                                   run->step);
            return;
        }
        auto found = std::move(run->found);
        auto error = result.error;
        run->step = nullptr; // ends the cycle run -> step -> run
        onMain([weak, generation, found = std::move(found), error] {
            auto self = weak.lock();
            if (!self || generation != self->generation_) return;
            self->records = found;
            self->loading = false;
            self->statusText = error ? "列表读取失败：" + cloud::describe(*error) : self->container_->storeNotice();
            if (!self->records.empty()) {
                self->showRecord(self->records.front());
                self->selectedRow = 0;
            } else {
                self->clearRecord();
                self->selectedRow = -1;
            }
            self->changed.notify();
        });
    };
    run->db->performQuery({std::string(rawValue(codeTableType)), {{qvfield::kDownloadTimes, false}}}, keys, kBatch,
                          options, run->step);
}

void QvCloudController::showRecord(const std::shared_ptr<QvRecord>& record) {
    codeTableNameText = record->name;
    codeTableDesText = record->des;
    uploaderNameText = record->nickName;
    codeTableUpdateTimeText = record->rowCount < 0 ? "" : "表大小 " + std::to_string(record->rowCount) + " 行";
    downloadButtonHidden = false;
    editButtonHidden = !record->isMyRecord;
    currentRecord = record;
    changed.notify();
}

void QvCloudController::clearRecord() {
    codeTableNameText.clear();
    codeTableDesText.clear();
    codeTableUpdateTimeText.clear();
    downloadButtonHidden = true;
    editButtonHidden = true;
    currentRecord.reset();
    changed.notify();
}

void QvCloudController::selectionChanged(int row) {
    if (row < 0 || row >= numberOfRows()) return;
    selectedRow = row;
    showRecord(records[static_cast<std::size_t>(row)]);
}

std::string QvCloudController::cellText(int row) const {
    if (row < 0 || row >= numberOfRows()) return {};
    return records[static_cast<std::size_t>(row)]->name;
}

void QvCloudController::downloadTap() {
    if (!currentRecord) return;
    pbar = presentSheet();
    pbar->setStringValue("正在下载...");
    std::weak_ptr<QvCloudController> weak = weak_from_this();
    const auto record = currentRecord;
    const CodeTableType kind = codeTableType;
    const auto folder = userFolder_;
    auto sheet = pbar;
    record->download(
        publicDatabase_, [sheet](int percent) { sheet->observeFractionCompleted(percent / 100.0); },
        [weak, sheet, record, kind, folder](std::optional<std::filesystem::path> file,
                                            std::optional<cloud::Error> error) {
            // The downloaded copy lives only while this runs: place it now.
            std::optional<std::filesystem::path> placed;
            if (file) placed = placeDownloadedFile(*file, kind, *record, folder);
            onMain([weak, sheet, placed, error] {
                if (placed) {
                    sheet->dismiss();
                    if (auto self = weak.lock()) {
                        self->lastPlacedFile = placed->string();
                        self->changed.notify();
                    }
                } else {
                    sheet->fail(error ? "下载失败：" + cloud::describe(*error) : std::string("下载失败：无法写入文件"));
                }
            });
        });
}

std::shared_ptr<UploadController> QvCloudController::makeSheet() {
    auto sheet = UploadController::create(container_, userFolder_);
    sheet->codeTableType = codeTableType;
    sheet->presentSheet = presentSheet;
    std::weak_ptr<QvCloudController> weak = weak_from_this();
    sheet->callback = [weak] {
        if (auto self = weak.lock()) self->queryRecords();
    };
    sheet->afterChange = [weak] {
        if (auto self = weak.lock(); self && self->currentRecord) self->showRecord(self->currentRecord);
    };
    return sheet;
}

std::shared_ptr<UploadController> QvCloudController::uploadTap() { return makeSheet(); }

std::shared_ptr<UploadController> QvCloudController::editTap() {
    if (!currentRecord) return nullptr;
    auto sheet = makeSheet();
    sheet->localRecord = currentRecord;
    sheet->loadRecord(currentRecord->recordId);
    return sheet;
}

} // namespace kelvane
