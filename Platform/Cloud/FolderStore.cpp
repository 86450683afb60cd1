#include "Platform/Cloud/FolderStore.h"

#include "Platform/Cloud/CloudOperation.h"
#include "Platform/Cloud/StoreFolder.h"
#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"
#include "Platform/Foundation/TemporaryFiles.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <variant>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace plat::cloud {

namespace {

std::uint64_t fnv1a(std::string_view s, std::uint64_t basis) {
    std::uint64_t h = basis;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

Error makeError(ErrorCode code, std::string message = {}) { return Error{code, std::move(message)}; }

std::string ownerName(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw && pw->pw_name ? pw->pw_name : std::to_string(uid);
}

std::string groupName(gid_t gid) {
    const group* gr = ::getgrgid(gid);
    return gr && gr->gr_name ? gr->gr_name : std::to_string(gid);
}

// Owner, group and mode of a folder or file, as "（属于 ann，组 shared，权限 2755）".
std::string aboutFile(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
    return "（属于 " + ownerName(st.st_uid) + "，组 " + groupName(st.st_gid) + "，权限 " + mode + "）";
}

// What the user is told of a failure of the store's folder that `why` describes: what
// the folder needs, and that what the store held is kept.
std::string explain(const std::string& why) {
    const auto f = StoreFolder::lastFailure();
    const std::string folder = f.folder.string();
    switch (f.err) {
    case EACCES:
        return "此账户不能写入文件夹 " + folder + aboutFile(f.folder) +
               "。几个账户共用存储时，存储里的文件夹都要属于这些账户共同所在的组，组可写并带 set-group-id 位"
               "（chgrp 组名 文件夹；chmod 2775 文件夹），每个账户都以 umask 002 运行。存储里原有的内容没有改动。";
    case EPERM:
        return "文件夹 " + folder + " 属于另一个账户" + aboutFile(f.folder) +
               "，不是此账户的私人文件夹，没有读取也没有写入。请换一个账号名（CloudAccountName）。存储里原有的内容没有改动。";
    case ENOSPC:
    case EDQUOT:
        return "存储所在的磁盘已满（" + folder + "）：这次没有保存，写了一半的文件已删除，存储里原有的条目和本机的文件都没有改动。"
               "请腾出空间后再试。";
    case EROFS:
        return "存储所在的文件系统只能读取（" + folder + "）：这次没有保存，存储里原有的条目没有改动。"
               "存储的文件夹要在可以写入的文件系统上：请把它以可读写方式重新挂载（mount -o remount,rw），"
               "或在设置中把存储位置（CloudStoreFolder）换到可以写入的文件夹。";
    case EMLINK:
        return "此条目的数据文件另有硬链接，可能指向存储以外的文件，为安全起见没有读取。请此条目的上传者重新保存它；"
               "本机的文件没有改动。";
    case ELOOP:
        return "存储里的 " + folder + " 中有链接，为安全起见没有跟随，也没有读取或改动它指向的文件。";
    default:
        return why;
    }
}

double toSeconds(Date d) {
    return std::chrono::duration<double>(d.time_since_epoch()).count();
}
Date fromSeconds(double s) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(s)));
}

// A record as its file holds it.
struct Stored {
    std::string type, name, zone, creator, modifier, changeTag;
    Date created{}, modified{};
    PlistValue::Dictionary fields; // key -> {"Type": ..., "Value": ...}
};

PlistValue encodeValue(const FieldValue& v, const std::string& assetName) {
    PlistValue d = PlistValue::dictionary();
    if (const auto* s = std::get_if<std::string>(&v)) {
        d["Type"] = "String";
        d["Value"] = *s;
    } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
        d["Type"] = "Integer";
        d["Value"] = static_cast<long long>(*i);
    } else if (const auto* r = std::get_if<double>(&v)) {
        d["Type"] = "Double";
        d["Value"] = *r;
    } else if (const auto* t = std::get_if<Date>(&v)) {
        d["Type"] = "Date";
        d["Value"] = toSeconds(*t);
    } else {
        d["Type"] = "Asset";
        d["Value"] = assetName;
    }
    return d;
}

PlistValue encodeStored(const Stored& s) {
    PlistValue d = PlistValue::dictionary();
    d["RecordType"] = s.type;
    d["RecordName"] = s.name;
    d["ZoneName"] = s.zone;
    d["Creator"] = s.creator;
    d["ModifiedBy"] = s.modifier;
    d["ChangeTag"] = s.changeTag;
    d["Created"] = toSeconds(s.created);
    d["Modified"] = toSeconds(s.modified);
    d["Fields"] = PlistValue(s.fields);
    return d;
}

std::optional<Stored> decodeStored(const PlistValue& d) {
    const auto type = d.find("RecordType"), name = d.find("RecordName"), fields = d.find("Fields");
    if (!type || !name || !fields || !type->isString() || !name->isString() || !fields->isDictionary())
        return std::nullopt;
    Stored s;
    s.type = type->asString();
    s.name = name->asString();
    if (!isValidStoreName(s.type) || !isValidStoreName(s.name)) return std::nullopt;
    s.zone = d.find("ZoneName") ? d.find("ZoneName")->asString("_defaultZone") : "_defaultZone";
    s.creator = d.find("Creator") ? d.find("Creator")->asString() : "";
    s.modifier = d.find("ModifiedBy") ? d.find("ModifiedBy")->asString() : "";
    s.changeTag = d.find("ChangeTag") ? d.find("ChangeTag")->asString() : "";
    if (const auto* c = d.find("Created"); c && c->isNumber()) s.created = fromSeconds(*c->getNumber());
    if (const auto* m = d.find("Modified"); m && m->isNumber()) s.modified = fromSeconds(*m->getNumber());
    s.fields = *fields->asDictionary();
    return s;
}

// The value of a stored field; an asset gives its stored file name in `assetName`.
std::optional<FieldValue> decodeValue(const PlistValue& d, std::string* assetName) {
    const auto* type = d.find("Type");
    const auto* value = d.find("Value");
    if (!type || !value) return std::nullopt;
    const std::string t = type->asString();
    if (t == "String" && value->isString()) return FieldValue(value->asString());
    if (t == "Integer" && value->isInteger()) return FieldValue(*value->getInteger());
    if (t == "Double" && value->isNumber()) return FieldValue(*value->getNumber());
    if (t == "Date" && value->isNumber()) return FieldValue(fromSeconds(*value->getNumber()));
    if (t == "Asset" && value->isString() && isValidStoreName(value->asString())) {
        if (assetName) *assetName = value->asString();
        return FieldValue(Asset(fs::path()));
    }
    return std::nullopt;
}

bool sameValue(const FieldValue& a, const FieldValue& b) {
    if (a.index() != b.index()) return false;
    if (std::holds_alternative<Asset>(a)) return false; // a new file is always a change
    if (const auto* x = std::get_if<std::string>(&a)) return *x == std::get<std::string>(b);
    if (const auto* x = std::get_if<std::int64_t>(&a)) return *x == std::get<std::int64_t>(b);
    if (const auto* x = std::get_if<double>(&a)) return *x == std::get<double>(b);
    return std::get<Date>(a) == std::get<Date>(b);
}

// Orders two field values of a sort key: absent first, then by kind, then by value.
int compareValues(const FieldValue* a, const FieldValue* b) {
    if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
    if (a->index() != b->index()) return a->index() < b->index() ? -1 : 1;
    auto cmp = [](const auto& x, const auto& y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (const auto* x = std::get_if<std::string>(a)) return cmp(*x, std::get<std::string>(*b));
    if (const auto* x = std::get_if<std::int64_t>(a)) return cmp(*x, std::get<std::int64_t>(*b));
    if (const auto* x = std::get_if<double>(a)) return cmp(*x, std::get<double>(*b));
    if (const auto* x = std::get_if<Date>(a)) return cmp(*x, std::get<Date>(*b));
    return 0;
}

class FolderDatabase : public Database, public std::enable_shared_from_this<FolderDatabase> {
public:
    FolderDatabase(fs::path top, std::vector<std::string> parts, std::string me, bool isPublic,
                   std::set<std::string> moderators, std::set<std::string> openFields, fs::path cache,
                   std::shared_ptr<SerialQueue> queue)
        : top_(std::move(top)), parts_(std::move(parts)), me_(std::move(me)), public_(isPublic),
          moderators_(std::move(moderators)), openFields_(std::move(openFields)), cache_(std::move(cache)),
          queue_(std::move(queue)) {}

    void fetchRecords(std::vector<RecordID> ids, DesiredKeys keys, OperationOptions options, FetchProgress progress,
                      std::function<void(FetchResult)> completion) override {
        auto self = shared_from_this();
        runOperation<FetchResult>(
            queue_, options.timeout,
            [self, ids = std::move(ids), keys = std::move(keys), progress](const std::shared_ptr<ProgressGate>& gate) {
                return self->fetchNow(ids, keys, progress, *gate);
            },
            std::move(completion), [] { return FetchResult{{}, {}, makeError(ErrorCode::TimedOut)}; });
    }

    void modifyRecords(std::vector<Record> toSave, std::vector<RecordID> toDelete, OperationOptions options,
                       SaveProgress progress, std::function<void(ModifyResult)> completion) override {
        auto self = shared_from_this();
        runOperation<ModifyResult>(
            queue_, options.timeout,
            [self, toSave = std::move(toSave), toDelete = std::move(toDelete),
             progress](const std::shared_ptr<ProgressGate>& gate) {
                return self->modifyNow(toSave, toDelete, progress, *gate);
            },
            std::move(completion), [] { return ModifyResult{{}, {}, {}, makeError(ErrorCode::TimedOut)}; });
    }

    void performQuery(Query query, DesiredKeys keys, std::size_t limit, OperationOptions options,
                      std::function<void(QueryResult)> completion) override {
        continueQuery(QueryCursor{std::move(query), 0}, std::move(keys), limit, options, std::move(completion));
    }

    void continueQuery(QueryCursor cursor, DesiredKeys keys, std::size_t limit, OperationOptions options,
                       std::function<void(QueryResult)> completion) override {
        auto self = shared_from_this();
        runOperation<QueryResult>(
            queue_, options.timeout,
            [self, cursor = std::move(cursor), keys = std::move(keys), limit](const std::shared_ptr<ProgressGate>&) {
                return self->queryNow(cursor, keys, limit);
            },
            std::move(completion), [] { return QueryResult{{}, std::nullopt, makeError(ErrorCode::TimedOut)}; });
    }

private:
    // The database's folder and its "Records" and "Assets" folders, each folder on the
    // way opened from the one before it without following a link.
    struct Folders {
        StoreFolder db, records, assets;
    };

    std::variant<Folders, Error> open() const {
        if (me_.empty()) return makeError(ErrorCode::NotAuthenticated);
        std::string why;
        auto dir = StoreFolder::openTop(top_, true, &why);
        for (std::size_t i = 0; i < parts_.size() && dir; ++i) {
            // The private database is a folder of its account alone, in a folder where
            // each account keeps its own; no other account renames the container's folders.
            const bool own = !public_ && i + 1 == parts_.size();
            if (own || i == 1) dir->keepEntriesToTheirOwners();
            if (!public_ && i == 1 && dir->kindOf(parts_[i]) == StoreFolder::Kind::Missing)
                if (auto told = renamedPrivateFolder(*dir, parts_[i])) {
                    plat::log("store: " + dir->path().string() + " has no " + parts_[i] + "; " + *told);
                    return makeError(ErrorCode::NetworkUnavailable, *told);
                }
            dir = own ? dir->privateChild(parts_[i], true, &why) : dir->child(parts_[i], true, &why);
        }
        std::optional<StoreFolder> records, assets;
        if (dir) records = dir->child("Records", true, &why);
        if (records) assets = dir->child("Assets", true, &why);
        if (!assets) {
            plat::log("store: cannot open the database folder: " + why);
            return makeError(ErrorCode::NetworkUnavailable, explain(why));
        }
        Folders f{std::move(*dir), std::move(*records), std::move(*assets)};
        std::call_once(*swept_, [&] { sweep(f); });
        return f;
    }

    // When the folder `name` of private databases is missing from `container` while another
    // folder there holds this account's: what the user is told. It is not moved back (who
    // renamed it may not be this account), and no new empty one hides it.
    std::optional<std::string> renamedPrivateFolder(const StoreFolder& container, const std::string& name) const {
        for (const auto& other : container.names()) {
            if (other == "Public" || other == name) continue;
            auto folder = container.child(other, false, nullptr);
            auto mine = folder ? folder->child(me_, false, nullptr) : std::nullopt;
            struct stat st {};
            if (!mine || ::fstat(mine->fd(), &st) != 0 || st.st_uid != ::geteuid()) continue;
            return "存储里的文件夹 " + (container.path() / name).string() + " 不见了，此账户的备份在 " +
                   mine->path().string() + " 里，可能是那个文件夹被改了名。请把 " + folder->path().string() +
                   " 改回 " + name + "（mv）后再试；没有新建 " + name + "，存储里原有的内容没有改动。";
        }
        return std::nullopt;
    }

    // What saves killed halfway left in the database: temporaries of record and asset
    // files, and asset folders no record names (a new record's files are written before
    // it). Only this account's, at least kAbandonedTemporaryAge old and held by no writer; under
    // the database's lock, so no record is written meanwhile. Left for later when another
    // process is saving.
    void sweep(const Folders& f) const {
        auto lock = lockDatabase(f, std::chrono::milliseconds(0));
        if (std::holds_alternative<Error>(lock)) return;
        const auto age = std::chrono::duration_cast<std::chrono::seconds>(plat::kAbandonedTemporaryAge);
        std::set<std::string> named;
        for (const auto& type : f.records.names()) {
            if (!isValidStoreName(type)) continue;
            auto typeDir = f.records.child(type, false, nullptr);
            if (!typeDir) continue;
            for (const auto& n : typeDir->removeAbandonedTemporaries(age))
                plat::log("store: removed " + (typeDir->path() / n).string() + ", left by a save that did not finish");
            for (const auto& file : typeDir->names())
                if (file.ends_with(".plist")) named.insert(file.substr(0, file.size() - 6));
        }
        for (const auto& name : f.assets.names()) {
            if (!isValidStoreName(name)) continue;
            if (named.count(name)) {
                if (auto folder = f.assets.child(name, false, nullptr))
                    for (const auto& n : folder->removeAbandonedTemporaries(age))
                        plat::log("store: removed " + (folder->path() / n).string() +
                                  ", left by a save that did not finish");
            } else if (f.assets.removeAbandonedFolder(name, age)) {
                plat::log("store: removed " + (f.assets.path() / name).string() +
                          ", files of a record whose save did not finish");
            }
        }
    }

    static void skipped(const std::string& why) { plat::log("store: skipped a record: " + why); }
    static void notSaved(const std::string& name, const std::string& why) {
        plat::log("store: cannot save " + name + ": " + why);
    }

    // The record in `file` of `typeDir`; nothing (and `why`) when it cannot be read or is
    // not a record.
    std::optional<Stored> readStored(const StoreFolder& typeDir, const std::string& file, std::string* why) const {
        const auto bytes = typeDir.read(file, kMaxRecordFileBytes, why);
        if (!bytes) return std::nullopt;
        const auto v = parsePlist(*bytes);
        auto s = v && v->isDictionary() ? decodeStored(*v) : std::nullopt;
        if (!s && why) *why = (typeDir.path() / file).string() + " is not a record";
        return s;
    }

    // The type folder that holds the record file of a name, whatever its type; a type
    // folder that is a link is not looked into.
    std::optional<StoreFolder> findRecord(const StoreFolder& records, const std::string& name) const {
        if (!isValidStoreName(name)) return std::nullopt;
        for (const auto& type : records.names()) {
            if (!isValidStoreName(type)) continue;
            auto typeDir = records.child(type, false, nullptr);
            if (typeDir && typeDir->kindOf(name + ".plist") != StoreFolder::Kind::Missing) return typeDir;
        }
        return std::nullopt;
    }

    RecordID userID(const std::string& name) const {
        return RecordID{name == me_ ? std::string(kDefaultOwnerName) : name};
    }

    bool wanted(const DesiredKeys& keys, const std::string& key) const {
        return !keys || std::find(keys->begin(), keys->end(), key) != keys->end();
    }

    // The caller's copy of a stored record; assets are copied into the cache. Nothing
    // (and `why`) when an asset it names cannot be delivered.
    std::optional<Record> toRecord(const Folders& f, const Stored& s, const DesiredKeys& keys,
                                   const std::function<void(double)>& step, std::string* why) const {
        Record r(s.type, RecordID{s.name, s.zone});
        std::uintmax_t total = 0, done = 0;
        std::vector<std::pair<std::string, std::string>> assets;
        for (const auto& [key, enc] : s.fields) {
            if (!isValidFieldKey(key) || !wanted(keys, key)) continue;
            std::string assetName;
            auto value = decodeValue(enc, &assetName);
            if (!value) continue;
            if (std::holds_alternative<Asset>(*value)) {
                assets.emplace_back(key, assetName);
                continue;
            }
            r.setValue(key, std::move(*value));
        }
        if (!assets.empty()) {
            auto folder = f.assets.child(s.name, false, why);
            if (!folder) return std::nullopt;
            for (const auto& [key, assetName] : assets) total += folder->sizeOf(assetName).value_or(0);
            std::error_code ec;
            fs::create_directories(cache_, ec);
            for (const auto& [key, assetName] : assets) {
                const fs::path copy = cache_ / (makeUUIDString() + "-" + key);
                const std::uintmax_t before = done;
                if (!folder->copyOut(assetName, copy, kMaxAssetBytes,
                                     [&](std::uintmax_t n) {
                                         done = before + n;
                                         if (step && total)
                                             step(static_cast<double>(done) / static_cast<double>(total));
                                     },
                                     why))
                    return std::nullopt;
                r.setValue(key, Asset::downloaded(copy, assetName));
            }
        }
        if (step) step(1.0);
        r.creationDate = s.created;
        r.modificationDate = s.modified;
        if (!s.creator.empty()) r.creatorUserRecordID = userID(s.creator);
        if (!s.modifier.empty()) r.lastModifiedUserRecordID = userID(s.modifier);
        r.recordChangeTag = s.changeTag;
        r.clearChangedKeys();
        return r;
    }

    FetchResult fetchNow(const std::vector<RecordID>& ids, const DesiredKeys& keys, const FetchProgress& progress,
                         ProgressGate& gate) const {
        FetchResult result;
        auto opened = open();
        if (auto* e = std::get_if<Error>(&opened)) {
            result.error = *e;
            return result;
        }
        const Folders& f = std::get<Folders>(opened);
        for (const auto& id : ids) {
            if (gate.ended()) break;
            const auto typeDir = findRecord(f.records, id.recordName);
            if (!typeDir) {
                result.recordErrors[id] = makeError(ErrorCode::UnknownItem, id.recordName);
                continue;
            }
            std::string why;
            auto stored = readStored(*typeDir, id.recordName + ".plist", &why);
            auto record = stored ? toRecord(f, *stored, keys,
                                            [&](double fr) {
                                                if (progress) gate.post([progress, id, fr] { progress(id, fr); });
                                            },
                                            &why)
                                 : std::nullopt;
            if (!record) {
                skipped(why);
                const std::string told = explain(why);
                result.recordErrors[id] = makeError(told == why ? ErrorCode::UnknownItem : ErrorCode::InternalError, told);
                continue;
            }
            result.records.emplace(id, std::move(*record));
        }
        if (!result.recordErrors.empty()) result.error = result.recordErrors.begin()->second;
        return result;
    }

    bool mayChangeAnything(const Stored& s) const { return s.creator == me_ || (public_ && moderators_.count(me_)); }

    // Whether `record` may be saved over `existing` (nothing when it is new); the keys it
    // writes when it may.
    std::variant<std::vector<std::string>, Error> checkSave(const Record& record,
                                                            const std::optional<Stored>& existing) const {
        const std::string& name = record.recordID().recordName;
        std::vector<std::string> keys;
        if (!existing) {
            if (!record.recordChangeTag.empty()) return makeError(ErrorCode::UnknownItem, name);
            keys = record.allKeys();
        } else {
            if (record.recordChangeTag != existing->changeTag) return makeError(ErrorCode::ServerRecordChanged, name);
            keys.assign(record.changedKeys().begin(), record.changedKeys().end());
            if (!mayChangeAnything(*existing)) {
                for (const auto& key : keys) {
                    if (openFields_.count(key)) continue;
                    // An unchanged value is no change.
                    std::string ignored;
                    const auto* cur = record.valueForKey(key);
                    const auto it = existing->fields.find(key);
                    const auto old = it == existing->fields.end() ? std::nullopt : decodeValue(it->second, &ignored);
                    if (cur && old && sameValue(*cur, *old)) continue;
                    if (!cur && !old) continue;
                    return makeError(ErrorCode::PermissionFailure, name);
                }
            }
        }
        for (const auto& key : keys)
            if (!isValidFieldKey(key)) return makeError(ErrorCode::InvalidArguments, key);
        return keys;
    }

    // The stored record of `file` in `typeDir`: nothing when there is none; an error when
    // the entry is there but is no readable record (a link, too large, damaged).
    std::variant<std::optional<Stored>, Error> existingRecord(const StoreFolder& typeDir,
                                                              const std::string& file) const {
        if (typeDir.kindOf(file) == StoreFolder::Kind::Missing) return std::optional<Stored>();
        std::string why;
        auto s = readStored(typeDir, file, &why);
        // Removed meanwhile (a delete won the race): there is none.
        if (!s && typeDir.kindOf(file) == StoreFolder::Kind::Missing) return std::optional<Stored>();
        if (!s) {
            skipped(why);
            return makeError(ErrorCode::InternalError, "unreadable record " + why);
        }
        return s;
    }

    // Holds the database's lock file from the change-tag check to the rename of the
    // record file, so that saves of other processes and machines that share the folder
    // (and take locks on it) check and write one after another. A folder whose file
    // system takes no locks is written without one: the change tag then catches only
    // saves that are not simultaneous.
    struct WriteLock {
        std::unique_lock<std::mutex> inProcess; // orders this process's writers where files take no locks
        std::optional<plat::FileLock> folder;
    };
    std::variant<WriteLock, Error> lockDatabase(const Folders& f, std::chrono::milliseconds wait = kLockWait) const {
        static std::mutex writers;
        WriteLock held{std::unique_lock(writers), std::nullopt};
        std::string why;
        int err = 0;
        // Every account that shares the folder locks the same file: it is made with the folder's
        // permissions (0666 less the umask), not as a private file. A private database's is
        // its account's alone.
        held.folder = plat::FileLock::acquireAt(f.db.fd(), ".lock", public_ ? 0666 : 0600, wait, &why, &err);
        if (held.folder) return held;
        if (err == EWOULDBLOCK) return makeError(ErrorCode::TimedOut, why);
        if (err == EACCES) {
            const fs::path lock = f.db.path() / ".lock";
            struct stat st {};
            const std::string owner = ::stat(lock.c_str(), &st) == 0 ? ownerName(st.st_uid) : std::string("其创建者");
            plat::log("store: " + why);
            return makeError(ErrorCode::PermissionFailure,
                             "存储的锁文件 " + lock.string() + aboutFile(lock) + " 只有账户 " + owner +
                                 " 能打开（较早的版本把它建成了私有文件），其他账户因此不能保存。请账户 " + owner +
                                 " 在此存储里保存一次（此后锁文件对组开放），或执行 chmod g+rw " + lock.string() +
                                 "。这次没有保存，存储里原有的内容没有改动。");
        }
        if (err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL) {
            static std::once_flag once;
            std::call_once(once, [&] { plat::log("store: " + why + "; saves are checked by their change tag only"); });
            return held;
        }
        return makeError(ErrorCode::InternalError, explain(why));
    }

    std::optional<Error> saveOne(const Folders& f, const Record& record, const SaveProgress& progress,
                                 ProgressGate& gate, Record& saved) const {
        const std::string& type = record.recordType();
        const std::string& name = record.recordID().recordName;
        if (!isValidStoreName(type) || !isValidStoreName(name))
            return makeError(ErrorCode::InvalidArguments, type + "/" + name);
        const std::string file = name + ".plist";
        std::string why;
        auto typeDir = f.records.child(type, true, &why);
        if (!typeDir) {
            notSaved(name, why);
            return makeError(ErrorCode::InternalError, explain(why));
        }

        // A first look before any file is copied, so that a refused save copies nothing.
        auto early = existingRecord(*typeDir, file);
        if (auto* e = std::get_if<Error>(&early)) return *e;
        const auto& before = std::get<std::optional<Stored>>(early);
        auto checked = checkSave(record, before);
        if (auto* e = std::get_if<Error>(&checked)) return *e;
        const auto keys = std::get<std::vector<std::string>>(checked);

        // Assets first, each under a new name, so the record file never names half a file.
        std::optional<StoreFolder> assetDir;
        std::vector<std::string> written;
        auto undo = [&] {
            for (const auto& a : written) assetDir->remove(a);
            // The folder made for a new record's files, when nothing else went there.
            if (assetDir && !before) ::unlinkat(f.assets.fd(), name.c_str(), AT_REMOVEDIR);
        };
        std::uintmax_t total = 0, done = 0;
        std::error_code ec;
        for (const auto& key : keys)
            if (const auto* a = record.assetForKey(key); a && a->storedName().empty()) {
                const auto size = fs::file_size(a->fileURL(), ec);
                if (!ec) total += size;
            }
        std::map<std::string, std::string> newAssets; // key -> stored name
        for (const auto& key : keys) {
            const auto* asset = record.assetForKey(key);
            if (!asset) continue;
            std::string oldAsset;
            if (before)
                if (const auto it = before->fields.find(key); it != before->fields.end())
                    decodeValue(it->second, &oldAsset);
            if (!asset->storedName().empty() && asset->storedName() == oldAsset) continue; // unchanged file
            if (!fs::is_regular_file(asset->fileURL(), ec)) {
                undo();
                return makeError(ErrorCode::AssetFileNotFound, asset->fileURL().string());
            }
            if (const auto size = fs::file_size(asset->fileURL(), ec); !ec && size > kMaxAssetBytes) {
                undo();
                return makeError(ErrorCode::LimitExceeded, asset->fileURL().string() + " holds " +
                                                               std::to_string(size) + " bytes, at most " +
                                                               std::to_string(kMaxAssetBytes));
            }
            if (!assetDir) {
                assetDir = f.assets.child(name, true, &why);
                if (!assetDir) {
                    notSaved(name, why);
                    return makeError(ErrorCode::InternalError, explain(why));
                }
            }
            const std::string assetName = key + "-" + makeUUIDString();
            const std::uintmax_t start = done;
            const RecordID id = record.recordID();
            if (!assetDir->copyIn(asset->fileURL(), assetName, kMaxAssetBytes,
                                  [&](std::uintmax_t n) {
                                      done = start + n;
                                      if (progress && total) {
                                          const double fr = static_cast<double>(done) / static_cast<double>(total);
                                          gate.post([progress, id, fr] { progress(id, fr); });
                                      }
                                  },
                                  &why)) {
                undo();
                notSaved(name, why);
                return makeError(ErrorCode::InternalError, explain(why));
            }
            written.push_back(assetName);
            newAssets[key] = assetName;
        }

        // Check again and write, one step for every process that locks the folder.
        std::vector<std::string> replaced;
        Stored next;
        {
            auto lock = lockDatabase(f);
            if (auto* e = std::get_if<Error>(&lock)) {
                undo();
                return *e;
            }
            auto current = existingRecord(*typeDir, file);
            if (auto* e = std::get_if<Error>(&current)) {
                undo();
                return *e;
            }
            const auto& existing = std::get<std::optional<Stored>>(current);
            if (auto recheck = checkSave(record, existing); auto* e = std::get_if<Error>(&recheck)) {
                undo();
                return *e;
            }
            const Date now = std::chrono::system_clock::now();
            if (existing) {
                next = *existing;
            } else {
                next.type = type;
                next.name = name;
                next.zone = record.recordID().zoneName;
                next.creator = me_;
                next.created = now;
            }
            for (const auto& key : keys) {
                std::string oldAsset;
                if (const auto it = next.fields.find(key); it != next.fields.end()) decodeValue(it->second, &oldAsset);
                const auto* value = record.valueForKey(key);
                const auto added = newAssets.find(key);
                if (!value) {
                    next.fields.erase(key);
                } else if (std::holds_alternative<Asset>(*value)) {
                    if (added == newAssets.end()) continue; // unchanged file
                    next.fields[key] = encodeValue(*value, added->second);
                } else {
                    next.fields[key] = encodeValue(*value, {});
                }
                if (!oldAsset.empty()) replaced.push_back(oldAsset);
            }
            next.modified = now;
            next.modifier = me_;
            next.changeTag = makeUUIDString();
            const std::string xml = plistToXml(encodeStored(next));
            if (xml.empty() || xml.size() > kMaxRecordFileBytes) {
                undo();
                return xml.empty() ? makeError(ErrorCode::InvalidArguments, name + " cannot be written")
                                   : makeError(ErrorCode::LimitExceeded, name + " is too large for a record file");
            }
            if (gate.ended() || !typeDir->write(file, xml, &why)) {
                undo();
                if (gate.ended()) return makeError(ErrorCode::TimedOut, why);
                notSaved(name, why);
                return makeError(ErrorCode::InternalError, explain(why));
            }
        }
        // Old files go only from inside the record's own asset folder.
        if (!replaced.empty()) {
            if (!assetDir) assetDir = f.assets.child(name, false, nullptr);
            if (assetDir)
                for (const auto& a : replaced)
                    if (isValidStoreName(a)) assetDir->remove(a);
        }
        if (progress) {
            const RecordID id = record.recordID();
            gate.post([progress, id] { progress(id, 1.0); });
        }
        saved = record;
        saved.creationDate = next.created;
        saved.modificationDate = next.modified;
        saved.creatorUserRecordID = userID(next.creator);
        saved.lastModifiedUserRecordID = userID(next.modifier);
        saved.recordChangeTag = next.changeTag;
        saved.clearChangedKeys();
        return std::nullopt;
    }

    std::optional<Error> deleteOne(const Folders& f, const RecordID& id) const {
        if (!isValidStoreName(id.recordName)) return makeError(ErrorCode::InvalidArguments, id.recordName);
        auto lock = lockDatabase(f);
        if (auto* e = std::get_if<Error>(&lock)) return *e;
        const auto typeDir = findRecord(f.records, id.recordName);
        if (!typeDir) return std::nullopt; // already gone
        // An unreadable public record has no known creator: only a moderator removes it.
        std::string why;
        const auto stored = readStored(*typeDir, id.recordName + ".plist", &why);
        if (stored ? !mayChangeAnything(*stored) : (public_ && !moderators_.count(me_)))
            return makeError(ErrorCode::PermissionFailure, id.recordName);
        if (!typeDir->remove(id.recordName + ".plist"))
            return makeError(ErrorCode::InternalError, "cannot remove " + id.recordName);
        f.assets.remove(id.recordName);
        return std::nullopt;
    }

    ModifyResult modifyNow(const std::vector<Record>& toSave, const std::vector<RecordID>& toDelete,
                           const SaveProgress& progress, ProgressGate& gate) const {
        ModifyResult result;
        auto opened = open();
        if (auto* e = std::get_if<Error>(&opened)) {
            result.error = *e;
            return result;
        }
        const Folders& f = std::get<Folders>(opened);
        for (const auto& record : toSave) {
            Record saved(record.recordType(), record.recordID());
            if (auto e = saveOne(f, record, progress, gate, saved))
                result.recordErrors[record.recordID()] = *e;
            else
                result.savedRecords.push_back(std::move(saved));
        }
        for (const auto& id : toDelete) {
            if (auto e = deleteOne(f, id))
                result.recordErrors[id] = *e;
            else
                result.deletedRecordIDs.push_back(id);
        }
        if (!result.recordErrors.empty()) result.error = result.recordErrors.begin()->second;
        return result;
    }

    QueryResult queryNow(const QueryCursor& cursor, const DesiredKeys& keys, std::size_t limit) const {
        QueryResult result;
        auto opened = open();
        if (auto* e = std::get_if<Error>(&opened)) {
            result.error = *e;
            return result;
        }
        const Folders& f = std::get<Folders>(opened);
        if (!isValidStoreName(cursor.query.recordType)) {
            result.error = makeError(ErrorCode::InvalidArguments, cursor.query.recordType);
            return result;
        }
        std::vector<Stored> all;
        std::string why;
        if (f.records.kindOf(cursor.query.recordType) != StoreFolder::Kind::Missing) {
            auto typeDir = f.records.child(cursor.query.recordType, false, &why);
            if (!typeDir) {
                skipped(why);
                return result;
            }
            for (const auto& file : typeDir->names()) {
                if (file.size() <= 6 || file.compare(file.size() - 6, 6, ".plist") != 0 || file[0] == '.') continue;
                auto s = readStored(*typeDir, file, &why);
                if (!s) skipped(why);
                else if (s->type == cursor.query.recordType) all.push_back(std::move(*s));
            }
        }
        // Decoded sort values, then a stable order by creation and name so cursors page
        // through the same sequence.
        std::vector<std::pair<std::vector<std::optional<FieldValue>>, std::size_t>> order;
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::vector<std::optional<FieldValue>> values;
            for (const auto& sd : cursor.query.sortDescriptors) {
                const auto it = all[i].fields.find(sd.key);
                values.push_back(it == all[i].fields.end() ? std::nullopt : decodeValue(it->second, nullptr));
            }
            order.emplace_back(std::move(values), i);
        }
        std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
            for (std::size_t k = 0; k < cursor.query.sortDescriptors.size(); ++k) {
                const int c = compareValues(a.first[k] ? &*a.first[k] : nullptr, b.first[k] ? &*b.first[k] : nullptr);
                if (c != 0) return cursor.query.sortDescriptors[k].ascending ? c < 0 : c > 0;
            }
            const auto& x = all[a.second];
            const auto& y = all[b.second];
            if (x.created != y.created) return x.created < y.created;
            return x.name < y.name;
        });
        const std::size_t end = limit == 0 ? order.size() : std::min(order.size(), cursor.offset + limit);
        for (std::size_t i = cursor.offset; i < end; ++i) {
            if (auto r = toRecord(f, all[order[i].second], keys, {}, &why)) result.records.push_back(std::move(*r));
            else skipped(why);
        }
        if (end < order.size()) result.cursor = QueryCursor{cursor.query, end};
        return result;
    }

    fs::path top_;
    std::vector<std::string> parts_;
    std::string me_;
    bool public_;
    std::set<std::string> moderators_;
    std::set<std::string> openFields_;
    fs::path cache_;
    std::shared_ptr<SerialQueue> queue_;
    std::unique_ptr<std::once_flag> swept_ = std::make_unique<std::once_flag>();
};

// One callback queue for every container, kept for the life of the process: a completion
// may drop the last reference to its container.
std::shared_ptr<SerialQueue> callbackQueue() {
    static auto* queue = new std::shared_ptr<SerialQueue>(new SerialQueue("cloud.callbacks"), [](SerialQueue*) {});
    return *queue;
}

class FolderContainer : public Container {
public:
    explicit FolderContainer(FolderStoreConfig config) : config_(std::move(config)) {
        if (!config_.accountName.empty()) me_ = userRecordNameForAccount(config_.accountName);
        if (config_.cacheFolder.empty()) {
            const char* xdg = std::getenv("XDG_CACHE_HOME");
            const fs::path base = xdg && *xdg == '/' ? fs::path(xdg) : Paths::homeFolder() / ".cache";
            config_.cacheFolder = base / "TaviroMac" / "CloudAssets";
        }
        valid_ = isValidStoreName(config_.containerIdentifier);
        queue_ = callbackQueue();
        const std::string container = valid_ ? config_.containerIdentifier : std::string("invalid");
        public_ = std::make_shared<FolderDatabase>(config_.folder, std::vector<std::string>{container, "Public"}, me_,
                                                   true, config_.moderators, config_.openFields, config_.cacheFolder,
                                                   queue_);
        private_ = std::make_shared<FolderDatabase>(
            config_.folder, std::vector<std::string>{container, "Private", me_.empty() ? "none" : me_}, me_, false,
            std::set<std::string>{}, std::set<std::string>{}, config_.cacheFolder, queue_);
    }

    const std::string& containerIdentifier() const override { return config_.containerIdentifier; }
    const std::string& accountName() const override { return config_.accountName; }

    AccountStatus accountStatus() const override {
        if (me_.empty()) return AccountStatus::NoAccount;
        if (!valid_ || config_.folder.empty()) return AccountStatus::CouldNotDetermine;
        std::error_code ec;
        fs::create_directories(config_.folder, ec);
        return fs::is_directory(config_.folder, ec) ? AccountStatus::Available : AccountStatus::CouldNotDetermine;
    }

    std::string storeDescription() const override { return "本地或共享存储：" + config_.folder.string(); }
    std::string storeNotice() const override { return config_.notice; }

    std::shared_ptr<Database> privateCloudDatabase() override { return private_; }
    std::shared_ptr<Database> publicCloudDatabase() override { return public_; }

    void fetchUserRecordID(OperationOptions options,
                           std::function<void(std::optional<RecordID>, std::optional<Error>)> completion) override {
        using Pair = std::pair<std::optional<RecordID>, std::optional<Error>>;
        const std::string me = me_;
        runOperation<Pair>(
            queue_, options.timeout,
            [me](const std::shared_ptr<ProgressGate>&) {
                if (me.empty()) return Pair{std::nullopt, makeError(ErrorCode::NotAuthenticated)};
                return Pair{RecordID{me}, std::nullopt};
            },
            [completion = std::move(completion)](Pair p) { completion(std::move(p.first), std::move(p.second)); },
            [] { return Pair{std::nullopt, makeError(ErrorCode::TimedOut)}; });
    }

private:
    FolderStoreConfig config_;
    std::string me_;
    bool valid_ = false;
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<FolderDatabase> public_, private_;
};

} // namespace

std::string userRecordNameForAccount(std::string_view accountName) {
    char out[34];
    std::snprintf(out, sizeof out, "_%016llx%016llx",
                  static_cast<unsigned long long>(fnv1a(accountName, 0xcbf29ce484222325ULL)),
                  static_cast<unsigned long long>(fnv1a(accountName, 0x84222325cbf29ce4ULL)));
    return out;
}

std::shared_ptr<Container> makeFolderContainer(FolderStoreConfig config) {
    return std::make_shared<FolderContainer>(std::move(config));
}

} // namespace plat::cloud
