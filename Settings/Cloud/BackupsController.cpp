#include "Settings/Cloud/BackupsController.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/WorkerPool.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Text/DateFormatter.h"
#include "Settings/Cloud/BackupRestore.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/DatabaseCopy.h"
#include "Settings/DatabaseFile.h"
#include "Settings/MainThread.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace kelvane {

namespace cloud = plat::cloud;

std::string chineseNumeral(int n) {
    static const char* const names[] = {"三", "四", "五", "六", "七", "八", "九", "十"};
    return n >= 3 && n <= 10 ? names[n - 3] : "四";
}

const std::string& punctuationMappingFileName() {
    static const std::string name = "PunctuationMapping.plist";
    return name;
}

BackupsController::BackupsController(std::shared_ptr<cloud::Container> container, TableLocations where,
                                     ConfigManager& config)
    : container_(std::move(container)), where_(std::move(where)), config_(config) {
    privateDatabase_ = container_->privateCloudDatabase();
}

std::shared_ptr<BackupsController> BackupsController::create(std::shared_ptr<cloud::Container> container,
                                                             TableLocations where, ConfigManager& config) {
    return std::shared_ptr<BackupsController>(new BackupsController(std::move(container), std::move(where), config));
}

void BackupsController::viewDidLoad() {
    storeText = container_->storeDescription() + "　账号：" + container_->accountName();
    statusText = container_->storeNotice();
    if (container_->accountStatus() != cloud::AccountStatus::Available) blockHidden = false;
    changed.notify();
}

void BackupsController::viewDidAppear() {
    if (container_->accountStatus() == cloud::AccountStatus::Available) queryBackups();
}

void BackupsController::queryBackups() {
    indicatorAnimating = true;
    changed.notify();
    const int generation = ++generation_;
    std::weak_ptr<BackupsController> weak = weak_from_this();
    struct Run {
        std::shared_ptr<cloud::Database> db;
        std::vector<cloud::Record> found;
        std::function<void(cloud::QueryResult)> step;
    };
    auto run = std::make_shared<Run>();
    run->db = privateDatabase_;
    const cloud::DesiredKeys keys = std::vector<std::string>{backupfield::kDeviceType, backupfield::kComment};
    const cloud::OperationOptions options{cloud::QueuePriority::VeryHigh, kListTimeout};
    run->step = [weak, generation, run, keys, options](cloud::QueryResult result) {
        for (auto& r : result.records) run->found.push_back(std::move(r));
        if (!result.error && result.cursor && run->found.size() < kListCap) {
            run->db->continueQuery(*result.cursor, keys, std::min(kBatch, kListCap - run->found.size()), options,
                                   run->step);
            return;
        }
        auto found = std::move(run->found);
        std::stable_sort(found.begin(), found.end(), [](const cloud::Record& a, const cloud::Record& b) {
            if (!a.creationDate || !b.creationDate) return a.creationDate.has_value() && !b.creationDate;
            return *a.creationDate > *b.creationDate;
        });
        auto error = result.error;
        run->step = nullptr;
        onMain([weak, generation, found = std::move(found), error] {
            auto self = weak.lock();
            if (!self || generation != self->generation_) return;
            self->records = found;
            if (self->selectedRow >= self->numberOfRows()) self->selectedRow = -1;
            self->indicatorAnimating = false;
            self->statusText = error ? "列表读取失败：" + cloud::describe(*error) : self->container_->storeNotice();
            self->changed.notify();
        });
    };
    run->db->performQuery({"Backups", {}}, keys, kBatch, options, run->step);
}

std::string BackupsController::cellText(int row, std::string_view title) const {
    if (row < 0 || row >= numberOfRows()) return {};
    const cloud::Record& r = records[static_cast<std::size_t>(row)];
    if (title == "日期") {
        if (!r.creationDate) return {};
        static const plat::DateFormatter formatter;
        return formatter.format(*r.creationDate, "yyyy年MM月dd日 HH:mm");
    }
    if (title == "来源设备") return r.stringForKey(backupfield::kDeviceType).value_or("");
    if (title == "备注") return r.stringForKey(backupfield::kComment).value_or("");
    return {};
}

PromptModel BackupsController::backupPrompt() {
    return {"现有配置将备份到本地或共享存储 ",
            "此备份仅使用同一账号的设备可见，包括了码表、配置以及自定义编码等。\n在备份前，你可以给本次备份添加一个备注：",
            {"确定", "取消"}};
}

std::variant<BackupRecord, std::string> BackupsController::makeBackupRecord(const std::string& comment) const {
    const fs::path configPath = where_.perUserFolder / "config.plist";
    const auto config = plat::readPlistFile(configPath, plat::PlistValue::Type::Dictionary);
    if (!config) return std::string("无法读取 config.plist，未能备份。");
    const auto& settings = *config->asDictionary();
    auto setting = [&](const char* key) -> std::optional<std::string> {
        const auto it = settings.find(key);
        if (it == settings.end() || !it->second.isString()) return std::nullopt;
        if (!plat::Paths::isSafeRelativeName(it->second.asString())) return std::nullopt;
        return it->second.asString();
    };
    BackupRecord made{cloud::Record("Backups", cloud::RecordID::random()), {}};
    cloud::Record& r = made.record;
    auto attach = [&r](const char* key, const fs::path& path) {
        if (plat::FileManager::isRegularFile(path)) r.setValue(key, cloud::Asset(path));
    };
    r.setValue(backupfield::kComment, comment);
    r.setValue(backupfield::kConfig, cloud::Asset(configPath));
    if (const auto assist = setting("AssistPlanName"); assist && *assist != kNoAssistTable)
        attach(backupfield::kAssistCodeTable, where_.userFolder / "AssistCodes" / (*assist + ".txt"));
    if (const auto boot = setting("BootButtonName"))
        attach(backupfield::kBootButton, where_.userFolder / "BootButtons" / *boot);
    if (const auto main = setting("CodeTableName"); main && *main != kNoMainCodeTable)
        attach(backupfield::kCodeTable, where_.userFolder / (*main + ".txt"));
    const fs::path custom = where_.perUserFolder / "custom.db";
    if (plat::FileManager::isRegularFile(custom)) {
        std::string why;
        auto copy = databaseSnapshot(custom, custom, &why);
        if (!copy) {
            plat::log("Kelvane: cannot copy " + custom.string() + " for a backup: " + why);
            return std::string("无法复制自定义编码数据库，未能备份。");
        }
        r.setValue(backupfield::kCustomCodeTable, cloud::Asset(copy->path()));
        made.copies.push_back(std::move(copy));
    }
    r.setValue(backupfield::kDeviceType, std::string(kDeviceType));
    const auto disable = settings.find("DisableDatabase");
    const bool disabled = disable != settings.end() && disable->second.asBool(false);
    if (const auto plan = setting("InputPlanName"); plan && !disabled)
        attach(backupfield::kSPPlan, where_.userFolder / "KeyMaps" / (*plan + ".plist"));
    attach(backupfield::kSilenceDict, where_.perUserFolder / "silence.plist");
    attach(backupfield::kPunctuationMapping, where_.perUserFolder / punctuationMappingFileName());
    return made;
}

void BackupsController::backup(const std::string& comment) {
    pbar = presentSheet();
    pbar->setStringValue("正在收集配置数据...");
    auto made = makeBackupRecord(comment);
    if (auto* why = std::get_if<std::string>(&made)) {
        pbar->fail(*why);
        return;
    }
    BackupRecord record = std::get<BackupRecord>(std::move(made));
    pbar->setStringValue("正在上传...");
    std::weak_ptr<BackupsController> weak = weak_from_this();
    auto sheet = pbar;
    auto copies = std::make_shared<std::vector<std::shared_ptr<DatabaseSnapshot>>>(std::move(record.copies));
    saveShowingProgress(privateDatabase_, std::move(record.record), sheet, "备份失败：", [weak, sheet, copies](cloud::Record) {
        copies->clear();
        sheet->dismiss();
        auto self = weak.lock();
        if (!self) return;
        self->indicatorAnimating = true;
        self->changed.notify();
        plat::MainQueue::shared().after(std::chrono::seconds(3), [weak] {
            if (auto s = weak.lock()) s->queryBackups();
        });
    });
}

const cloud::Record* BackupsController::selected() const {
    if (selectedRow < 0 || selectedRow >= numberOfRows()) return nullptr;
    return &records[static_cast<std::size_t>(selectedRow)];
}

std::optional<AlertModel> BackupsController::restoreQuestion() const {
    const cloud::Record* r = selected();
    if (!r) return std::nullopt;
    return AlertModel{"即将从存储取回备份",
                      "如果你这么做，那么现有配置将被覆盖。\n你的备注：" +
                          r->stringForKey(backupfield::kComment).value_or(""),
                      {"确定", "取消"}};
}

void BackupsController::restoreConfirmed() {
    const cloud::Record* r = selected();
    if (!r) return;
    const cloud::RecordID id = r->recordID();
    pbar = presentSheet();
    pbar->setStringValue("正在获取配置数据...");
    std::weak_ptr<BackupsController> weak = weak_from_this();
    auto sheet = pbar;
    // Runs on the main queue when the restore starts its imports.
    auto imports = [weak]() -> BackupRestore::ImportSheet {
        auto self = weak.lock();
        if (!self) return {};
        if (self->presentImportSheet) return self->presentImportSheet();
        auto p = self->importSheet = self->presentSheet();
        return {p, [p](bool ok) { p->finish(ok); }};
    };
    const TableLocations where = where_;
    ConfigManager* config = &config_;
    privateDatabase_->fetchRecords(
        {id}, std::nullopt, {cloud::QueuePriority::VeryHigh, kTransferTimeout},
        progressOn(sheet, id), [weak, sheet, imports, id, where, config](cloud::FetchResult result) {
            const auto it = result.records.find(id);
            if (it == result.records.end()) {
                auto error = result.error;
                onMain([sheet, error] {
                    sheet->fail("获取备份失败：" + (error ? cloud::describe(*error) : std::string("条目不存在")));
                });
                return;
            }
            // The restore waits for the main queue and for its imports: not on the store's queue.
            plat::WorkerPool::shared().submit([weak, sheet, imports, where, config, record = it->second] {
                const auto outcome = BackupRestore::restoreBackup(record, where, *config, imports);
                onMain([weak, sheet, committed = outcome.committed] {
                    if (committed) sheet->dismiss();
                    else sheet->fail("未能恢复此备份，现有配置没有改变。");
                    if (auto self = weak.lock()) {
                        ++self->restoresFinished;
                        self->changed.notify();
                    }
                });
            });
        });
}

std::optional<AlertModel> BackupsController::deleteQuestion() const {
    if (!selected()) return std::nullopt;
    return AlertModel{"从存储中删除此备份", "如果你这么做，那么你就不能够再下载你的这条备份了。", {"确定", "取消"}};
}

void BackupsController::deleteConfirmed() {
    const cloud::Record* r = selected();
    if (!r) return;
    std::weak_ptr<BackupsController> weak = weak_from_this();
    privateDatabase_->modifyRecords({}, {r->recordID()}, {cloud::QueuePriority::High, kListTimeout}, {},
                                    [weak](cloud::ModifyResult result) {
                                        onMain([weak, result = std::move(result)] {
                                            auto self = weak.lock();
                                            if (!self) return;
                                            if (result.error)
                                                self->statusText = "删除失败：" + cloud::describe(*result.error);
                                            self->queryBackups();
                                        });
                                    });
}

} // namespace kelvane
