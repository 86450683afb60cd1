#pragma once
#include "Platform/Cloud/CloudDatabase.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// The six kinds of shared table; the raw value is the record type.
enum class CodeTableType : std::uint8_t { main, assist, rev, map, bootButton, extended };

std::string_view rawValue(CodeTableType type);
// Exactly the six record types, case-sensitive; nothing for any other text.
std::optional<CodeTableType> codeTableTypeFromRawValue(std::string_view raw);

// What a kind means on disk and on the upload sheet.
struct CodeTableKind {
    std::string_view heading;     // the upload sheet's heading
    std::string_view folder;      // relative to the user folder, "" or ending in "/"
    std::string_view suffix;      // of a downloaded file
    bool countsRowsOnUpload;      // "RowCount" of a new share
    bool recountsRowsOnEdit;      // "RowCount" when an edit sends a new file
};
const CodeTableKind& kindOf(CodeTableType type);

// Set once the browser has found a moderator account; read when models are made.
std::atomic<bool>& isModerator();

// Field keys of a shared record.
namespace qvfield {
inline constexpr const char* kName = "Name";
inline constexpr const char* kDescription = "Description";
inline constexpr const char* kUploadUserName = "UploadUserName";
inline constexpr const char* kRowCount = "RowCount";
inline constexpr const char* kData = "Data";
inline constexpr const char* kDownloadTimes = "DownloadTimes";
inline constexpr const char* kVoteUpTimes = "VoteUpTimes";
inline constexpr const char* kVoteDownTimes = "VoteDownTimes";
} // namespace qvfield

// One listed shared record.
class QvRecord {
public:
    // Nothing when "Description", "Name" or "UploadUserName" is not text, or
    // "DownloadTimes" not an integer: such a record is left out of the list.
    static std::optional<QvRecord> make(const plat::cloud::Record& record);

    // Refills the model after an edit; keeps isMyRecord and isDeleted. False (and nothing
    // changed) when the record lacks a required field.
    bool update(const plat::cloud::Record& record);

    using Completion = std::function<void(std::optional<std::filesystem::path>, std::optional<plat::cloud::Error>)>;
    // Fetches the record with its file. `progress` gets whole percents; `completion` runs
    // on the store's callback queue with the downloaded file (valid only while it runs)
    // or the error. After a download the record's own count is raised by one.
    void download(std::shared_ptr<plat::cloud::Database> database, std::function<void(int)> progress,
                  Completion completion) const;

    std::string des;
    std::string name;
    std::int64_t downLoadNumber = 0;
    std::string nickName;
    plat::cloud::RecordID recordId;
    plat::cloud::Date changeDate;
    bool isMyRecord = false;
    std::int64_t rowCount = -1;
    bool isDeleted = false;

private:
    bool fill(const plat::cloud::Record& record);
};

// The file name of a downloaded table, made safe: no "/", no "..", no control
// characters, not starting with ".", at most 180 bytes (whole UTF-8 characters).
std::string safeFileStem(std::string_view name, std::string_view nickName);

// Writes the downloaded bytes to <userFolder>/<kind folder>/<name>-<nickName><suffix>,
// atomically, creating the kind's folder. Returns the path written, or nothing.
std::optional<std::filesystem::path> placeDownloadedFile(const std::filesystem::path& downloaded, CodeTableType kind,
                                                         const QvRecord& record,
                                                         const std::filesystem::path& userFolder);

} // namespace kelvane
