#include "Settings/Cloud/QvRecord.h"

#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Settings/Cloud/CloudStore.h"

#include <array>

namespace kelvane {

namespace cloud = plat::cloud;

std::string_view rawValue(CodeTableType type) {
    static constexpr std::array<std::string_view, 6> names{"MainCodeTables", "AssistCodeTables", "MapRev",
                                                           "KeyboardMaps",   "BootButtons",      "ExtendedTables"};
    return names[static_cast<std::size_t>(type)];
}

std::optional<CodeTableType> codeTableTypeFromRawValue(std::string_view raw) {
    for (int i = 0; i < 6; ++i)
        if (rawValue(static_cast<CodeTableType>(i)) == raw) return static_cast<CodeTableType>(i);
    return std::nullopt;
}

const CodeTableKind& kindOf(CodeTableType type) {
    static const std::array<CodeTableKind, 6> kinds{{
        {"分享一份主码表", "", ".txt", true, false},
        {"分享一份辅码码表", "AssistCodes/", ".txt", true, false},
        {"分享一份按键提示表", "KeyMaps/", "_rev.plist", false, false},
        {"分享一份输入方案表", "KeyMaps/", ".plist", false, false},
        {"分享一份点划引导配置", "BootButtons/", ".plist", false, false},
        {"分享一份扩展词库表", "Extended/", ".txt", true, true},
    }};
    return kinds[static_cast<std::size_t>(type)];
}

std::atomic<bool>& isModerator() {
    static std::atomic<bool> flag{false};
    return flag;
}

bool QvRecord::fill(const cloud::Record& record) {
    const auto d = record.stringForKey(qvfield::kDescription);
    const auto n = record.stringForKey(qvfield::kName);
    const auto times = record.integerForKey(qvfield::kDownloadTimes);
    const auto nick = record.stringForKey(qvfield::kUploadUserName);
    if (!d || !n || !times || !nick) return false;
    des = *d;
    name = *n;
    downLoadNumber = *times;
    nickName = *nick;
    rowCount = record.integerForKey(qvfield::kRowCount).value_or(-1);
    recordId = record.recordID();
    changeDate = record.modificationDate ? *record.modificationDate
                 : record.creationDate   ? *record.creationDate
                                         : std::chrono::system_clock::now();
    return true;
}

std::optional<QvRecord> QvRecord::make(const cloud::Record& record) {
    QvRecord model;
    if (!model.fill(record)) return std::nullopt;
    model.isMyRecord = isModerator().load() ||
                       (record.creatorUserRecordID &&
                        record.creatorUserRecordID->recordName == cloud::kDefaultOwnerName);
    return model;
}

bool QvRecord::update(const cloud::Record& record) {
    QvRecord copy = *this;
    if (!copy.fill(record)) return false;
    *this = std::move(copy);
    return true;
}

// Saves the record's own count plus one; when another download saved first, fetches the
// record again and retries.
static void raiseDownloadCount(std::shared_ptr<cloud::Database> database, cloud::Record record, int attempts) {
    const auto count = record.integerForKey(qvfield::kDownloadTimes).value_or(0);
    record.setValue(qvfield::kDownloadTimes, count + 1);
    const cloud::OperationOptions options{cloud::QueuePriority::High, kListTimeout};
    database->modifyRecords({record}, {}, options, {}, [database, id = record.recordID(), attempts, options](cloud::ModifyResult r) {
        if (!r.error) return;
        if (r.error->code != cloud::ErrorCode::ServerRecordChanged || attempts <= 1) {
            plat::log("Kelvane: download count not saved: " + cloud::describe(*r.error));
            return;
        }
        database->fetchRecords({id}, std::vector<std::string>{qvfield::kDownloadTimes}, options, {},
                               [database, id, attempts](cloud::FetchResult f) {
                                   if (auto it = f.records.find(id); it != f.records.end())
                                       raiseDownloadCount(database, it->second, attempts - 1);
                               });
    });
}

void QvRecord::download(std::shared_ptr<cloud::Database> database, std::function<void(int)> progress,
                        Completion completion) const {
    const cloud::RecordID id = recordId;
    cloud::OperationOptions options{cloud::QueuePriority::VeryHigh, kTransferTimeout};
    database->fetchRecords(
        {id}, std::nullopt, options,
        [id, progress](const cloud::RecordID& which, double fraction) {
            if (which == id && progress) progress(static_cast<int>(fraction * 100));
        },
        [database, id, completion](cloud::FetchResult result) {
            const auto it = result.records.find(id);
            if (it == result.records.end()) {
                completion(std::nullopt, result.error ? result.error
                                                      : cloud::Error{cloud::ErrorCode::UnknownItem, id.recordName});
                return;
            }
            cloud::Record record = it->second;
            const cloud::Asset* asset = record.assetForKey(qvfield::kData);
            if (!asset) {
                completion(std::nullopt, cloud::Error{cloud::ErrorCode::AssetFileNotFound, "Data"});
                return;
            }
            completion(asset->fileURL(), std::nullopt);
            raiseDownloadCount(database, std::move(record), 3);
        });
}

std::string safeFileStem(std::string_view name, std::string_view nickName) {
    std::string raw = std::string(name) + "-" + std::string(nickName);
    std::string out;
    for (unsigned char c : raw) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') out += '_';
        else out += static_cast<char>(c);
    }
    for (std::size_t pos; (pos = out.find("..")) != std::string::npos;) out.replace(pos, 2, "_");
    if (!out.empty() && out.front() == '.') out.front() = '_';
    constexpr std::size_t kMax = 180;
    if (out.size() > kMax) {
        std::size_t cut = kMax;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

std::optional<std::filesystem::path> placeDownloadedFile(const std::filesystem::path& downloaded, CodeTableType kind,
                                                         const QvRecord& record,
                                                         const std::filesystem::path& userFolder) {
    const auto bytes = plat::readWholeFile(downloaded);
    if (!bytes) return std::nullopt;
    const CodeTableKind& k = kindOf(kind);
    const std::filesystem::path folder = userFolder / std::string(k.folder);
    if (!plat::FileManager::createDirectory(folder, true)) return std::nullopt;
    const std::filesystem::path target = folder / (safeFileStem(record.name, record.nickName) + std::string(k.suffix));
    std::string why;
    if (!plat::writeFileAtomically(target, *bytes, &why)) {
        plat::log("Kelvane: cannot place " + target.string() + ": " + why);
        return std::nullopt;
    }
    return target;
}

} // namespace kelvane
