#pragma once
#include "Platform/Cloud/CloudRecord.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat::cloud {

// A hint of how urgent an operation is.
enum class QueuePriority { Normal = 0, High = 4, VeryHigh = 8 };

struct OperationOptions {
    QueuePriority priority = QueuePriority::Normal;
    // The operation ends with ErrorCode::TimedOut when its work has not finished by then;
    // whatever the work does later is dropped.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

// All keys when empty; otherwise only these (a query without the asset keys downloads
// no asset).
using DesiredKeys = std::optional<std::vector<std::string>>;

struct SortDescriptor {
    std::string key;
    bool ascending = true;
};

// Every record of one type, in the order of the sort descriptors.
struct Query {
    std::string recordType;
    std::vector<SortDescriptor> sortDescriptors;
};

// Where a query that returned one batch goes on.
struct QueryCursor {
    Query query;
    std::size_t offset = 0;
};

struct FetchResult {
    std::map<RecordID, Record> records;
    std::map<RecordID, Error> recordErrors;
    std::optional<Error> error; // set when any record failed, or the whole operation did
};

struct ModifyResult {
    std::vector<Record> savedRecords; // as stored, with their new change tags and dates
    std::vector<RecordID> deletedRecordIDs;
    std::map<RecordID, Error> recordErrors;
    std::optional<Error> error;
};

struct QueryResult {
    std::vector<Record> records;
    std::optional<QueryCursor> cursor; // set when more records follow
    std::optional<Error> error;
};

// Progress of one record's transfer, 0 to 1.
using FetchProgress = std::function<void(const RecordID&, double)>;
using SaveProgress = std::function<void(const RecordID&, double)>;

// One database of a container. Every operation returns at once; its progress and
// completion are called on the container's callback queue (never the main queue), and
// the completion exactly once.
class Database {
public:
    virtual ~Database() = default;

    virtual void fetchRecords(std::vector<RecordID> ids, DesiredKeys keys, OperationOptions options,
                              FetchProgress progress, std::function<void(FetchResult)> completion) = 0;

    // Saves (new records, or fetched ones with their changed fields) and deletes.
    virtual void modifyRecords(std::vector<Record> toSave, std::vector<RecordID> toDelete, OperationOptions options,
                               SaveProgress progress, std::function<void(ModifyResult)> completion) = 0;

    // One batch of at most `resultsLimit` records; resume with the result's cursor.
    virtual void performQuery(Query query, DesiredKeys keys, std::size_t resultsLimit, OperationOptions options,
                              std::function<void(QueryResult)> completion) = 0;
    virtual void continueQuery(QueryCursor cursor, DesiredKeys keys, std::size_t resultsLimit,
                               OperationOptions options, std::function<void(QueryResult)> completion) = 0;
};

enum class AccountStatus { Available, NoAccount, CouldNotDetermine };

// A container: the signed-in account, its private database and the public database
// that every account of the container shares.
class Container {
public:
    virtual ~Container() = default;

    virtual const std::string& containerIdentifier() const = 0;
    // Stands for the platform's identity token: whether an account can use the store.
    virtual AccountStatus accountStatus() const = 0;
    virtual const std::string& accountName() const = 0;
    // What the store is and where, for the pages to show.
    virtual std::string storeDescription() const = 0;
    // What the pages show while no failure is shown (a setting that was not taken); empty
    // for nothing.
    virtual std::string storeNotice() const { return {}; }

    virtual std::shared_ptr<Database> privateCloudDatabase() = 0;
    virtual std::shared_ptr<Database> publicCloudDatabase() = 0;

    // The signed-in user's record identifier.
    virtual void fetchUserRecordID(OperationOptions options,
                                   std::function<void(std::optional<RecordID>, std::optional<Error>)> completion) = 0;
};

} // namespace plat::cloud
