#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat::cloud {

using Date = std::chrono::system_clock::time_point;

// A record's identity: its name (a UUID string for records this program makes) in a zone.
struct RecordID {
    std::string recordName;
    std::string zoneName = "_defaultZone";

    // A new identifier whose name is a random UUID in its canonical form.
    static RecordID random();

    auto operator<=>(const RecordID&) const = default;
    bool operator==(const RecordID&) const = default;
};

// A new random UUID, upper-case, "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX".
std::string makeUUIDString();

// A file that travels with a record. Made from a local file to upload; a fetched asset
// points at a downloaded copy that is removed when the last Asset holding it goes away.
class Asset {
public:
    explicit Asset(std::filesystem::path fileURL);

    const std::filesystem::path& fileURL() const;

    // Backends only: a downloaded copy owned by the asset, and the name under which the
    // store keeps the file (so saving the record again does not copy it again).
    static Asset downloaded(std::filesystem::path copy, std::string storedName);
    const std::string& storedName() const;

private:
    struct File;
    explicit Asset(std::shared_ptr<const File> file) : file_(std::move(file)) {}
    std::shared_ptr<const File> file_;
};

// The typed value of one field.
using FieldValue = std::variant<std::string, std::int64_t, double, Date, Asset>;

// One record: a type, an identifier, typed fields and the properties the store keeps.
// Setting a field marks it changed; a save sends only the changed fields of a record
// that came from the store, and every field of a new one.
class Record {
public:
    Record(std::string recordType, RecordID recordID);

    const std::string& recordType() const { return recordType_; }
    const RecordID& recordID() const { return recordID_; }

    const FieldValue* valueForKey(std::string_view key) const;
    void setValue(const std::string& key, FieldValue value);
    void removeValue(const std::string& key);
    std::vector<std::string> allKeys() const;

    // Typed reads: nothing when the field is absent or of another kind.
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<std::int64_t> integerForKey(std::string_view key) const;
    const Asset* assetForKey(std::string_view key) const;

    // Properties kept by the store; empty on a record that was never saved.
    std::optional<Date> creationDate;
    std::optional<Date> modificationDate;
    std::optional<RecordID> creatorUserRecordID;
    std::optional<RecordID> lastModifiedUserRecordID;
    std::string recordChangeTag;

    const std::set<std::string>& changedKeys() const { return changedKeys_; }
    void clearChangedKeys() { changedKeys_.clear(); }

private:
    std::string recordType_;
    RecordID recordID_;
    std::map<std::string, FieldValue, std::less<>> fields_;
    std::set<std::string> changedKeys_;
};

// What the store tells for the signed-in user's own records in place of their user
// record name.
inline constexpr std::string_view kDefaultOwnerName = "__defaultOwner__";

// The kinds of failure an operation reports.
enum class ErrorCode {
    InternalError,
    NotAuthenticated,    // no account name is set
    NetworkUnavailable,  // the store's folder cannot be reached
    UnknownItem,         // no record of that identifier
    PermissionFailure,   // the record belongs to another user
    ServerRecordChanged, // the record changed since it was fetched
    AssetFileNotFound,   // a file to upload is missing
    InvalidArguments,    // a name the store cannot keep
    TimedOut,            // the operation did not end within its time-out
    LimitExceeded,       // a file or record larger than the store keeps
};

struct Error {
    ErrorCode code = ErrorCode::InternalError;
    std::string message;
};

// A short Chinese text for the user, with the error's own message.
std::string describe(const Error& error);

// Names the store keeps: record types and names of 1 to 128 characters from A-Z, a-z,
// 0-9, "_", "-" and ".", not starting with "."; field keys of 1 to 255 characters from
// A-Z, a-z, 0-9 and "_".
bool isValidStoreName(std::string_view name);
bool isValidFieldKey(std::string_view key);

} // namespace plat::cloud
