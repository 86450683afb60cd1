#include "Platform/Cloud/FolderStore.h"

#include "Platform/Cloud/CloudOperation.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/Plist.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
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

double toSeconds(Date d) {
    return std::chrono::duration<double>(d.time_since_epoch()).count();
}
Date fromSeconds(double s) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(s)));
}

// Copies a file into place through a temporary beside the target, flushed before the
// rename. Calls `step` with the bytes copied so far. False (and nothing at `to`) on any
// failure.
bool copyFileAtomically(const fs::path& from, const fs::path& to, const std::function<void(std::uintmax_t)>& step) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return false;
    const fs::path tmp = to.parent_path() / ("." + to.filename().string() + "." + makeUUIDString() + ".tmp");
    const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    std::uintmax_t total = 0;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        for (ssize_t off = 0; off < n;) {
            const ssize_t w = ::write(out, buf + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
        if (!ok) break;
        total += static_cast<std::uintmax_t>(n);
        if (step) step(total);
    }
    ::close(in);
    if (ok && ::fsync(out) != 0) ok = false;
    if (::close(out) != 0) ok = false;
    if (ok && ::rename(tmp.c_str(), to.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

std::uintmax_t sizeOf(const fs::path& p) {
    std::error_code ec;
    const auto s = fs::file_size(p, ec);
    return ec ? 0 : s;
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
    FolderDatabase(fs::path root, std::string me, bool isPublic, std::set<std::string> moderators,
                   std::set<std::string> openFields, fs::path cache, std::shared_ptr<SerialQueue> queue)
        : root_(std::move(root)), me_(std::move(me)), public_(isPublic), moderators_(std::move(moderators)),
          openFields_(std::move(openFields)), cache_(std::move(cache)), queue_(std::move(queue)) {}

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
    std::optional<Error> reachable() const {
        if (me_.empty()) return makeError(ErrorCode::NotAuthenticated);
        std::error_code ec;
        fs::create_directories(root_ / "Records", ec);
        if (ec || !fs::is_directory(root_ / "Records", ec))
            return makeError(ErrorCode::NetworkUnavailable, root_.string());
        return std::nullopt;
    }

    fs::path recordPath(const std::string& type, const std::string& name) const {
        return root_ / "Records" / type / (name + ".plist");
    }
    fs::path assetFolder(const std::string& name) const { return root_ / "Assets" / name; }

    std::optional<Stored> readStored(const fs::path& p) const {
        const auto v = readPlistFile(p, PlistValue::Type::Dictionary);
        if (!v) return std::nullopt;
        return decodeStored(*v);
    }

    // The record file of a name, whatever its type.
    std::optional<fs::path> findRecord(const std::string& name) const {
        if (!isValidStoreName(name)) return std::nullopt;
        std::error_code ec;
        for (const auto& typeDir : fs::directory_iterator(root_ / "Records", ec)) {
            const fs::path p = typeDir.path() / (name + ".plist");
            if (fs::is_regular_file(p, ec)) return p;
        }
        return std::nullopt;
    }

    RecordID userID(const std::string& name) const {
        return RecordID{name == me_ ? std::string(kDefaultOwnerName) : name};
    }

    bool wanted(const DesiredKeys& keys, const std::string& key) const {
        return !keys || std::find(keys->begin(), keys->end(), key) != keys->end();
    }

    // The caller's copy of a stored record; assets are copied into the cache.
    Record toRecord(const Stored& s, const DesiredKeys& keys, const std::function<void(double)>& step) const {
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
                total += sizeOf(assetFolder(s.name) / assetName);
                continue;
            }
            r.setValue(key, std::move(*value));
        }
        for (const auto& [key, assetName] : assets) {
            std::error_code ec;
            fs::create_directories(cache_, ec);
            const fs::path copy = cache_ / (makeUUIDString() + "-" + key);
            const std::uintmax_t before = done;
            if (copyFileAtomically(assetFolder(s.name) / assetName, copy, [&](std::uintmax_t n) {
                    done = before + n;
                    if (step && total) step(static_cast<double>(done) / static_cast<double>(total));
                }))
                r.setValue(key, Asset::downloaded(copy, assetName));
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
        if (auto e = reachable()) {
            result.error = e;
            return result;
        }
        for (const auto& id : ids) {
            if (gate.ended()) break;
            const auto path = findRecord(id.recordName);
            const auto stored = path ? readStored(*path) : std::nullopt;
            if (!stored) {
                result.recordErrors[id] = makeError(ErrorCode::UnknownItem, id.recordName);
                continue;
            }
            result.records.emplace(id, toRecord(*stored, keys, [&](double f) {
                                       if (progress) gate.post([progress, id, f] { progress(id, f); });
                                   }));
        }
        if (!result.recordErrors.empty()) result.error = result.recordErrors.begin()->second;
        return result;
    }

    bool mayChangeAnything(const Stored& s) const { return s.creator == me_ || (public_ && moderators_.count(me_)); }

    std::optional<Error> saveOne(const Record& record, const SaveProgress& progress, ProgressGate& gate,
                                 Record& saved) const {
        const std::string& type = record.recordType();
        const std::string& name = record.recordID().recordName;
        if (!isValidStoreName(type) || !isValidStoreName(name))
            return makeError(ErrorCode::InvalidArguments, type + "/" + name);
        const fs::path path = recordPath(type, name);
        std::error_code ec;
        std::optional<Stored> existing;
        if (fs::exists(path, ec)) {
            existing = readStored(path);
            if (!existing) return makeError(ErrorCode::InternalError, "unreadable record " + name);
        }
        std::vector<std::string> keys;
        Stored next;
        const Date now = std::chrono::system_clock::now();
        if (!existing) {
            if (!record.recordChangeTag.empty()) return makeError(ErrorCode::UnknownItem, name);
            keys = record.allKeys();
            next.type = type;
            next.name = name;
            next.zone = record.recordID().zoneName;
            next.creator = me_;
            next.created = now;
        } else {
            if (record.recordChangeTag != existing->changeTag) return makeError(ErrorCode::ServerRecordChanged, name);
            next = *existing;
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

        // Assets first, each under a new name, so the record file never names half a file.
        std::uintmax_t total = 0, done = 0;
        for (const auto& key : keys)
            if (const auto* a = record.assetForKey(key); a && a->storedName().empty()) total += sizeOf(a->fileURL());
        std::vector<fs::path> written, replaced;
        auto undo = [&] {
            for (const auto& p : written) fs::remove(p, ec);
        };
        for (const auto& key : keys) {
            std::string oldAsset;
            if (const auto it = next.fields.find(key); it != next.fields.end()) decodeValue(it->second, &oldAsset);
            const auto* value = record.valueForKey(key);
            if (!value) {
                next.fields.erase(key);
                if (!oldAsset.empty()) replaced.push_back(assetFolder(name) / oldAsset);
                continue;
            }
            if (const auto* asset = std::get_if<Asset>(value)) {
                if (!asset->storedName().empty() && asset->storedName() == oldAsset) continue; // unchanged file
                if (!fs::is_regular_file(asset->fileURL(), ec)) {
                    undo();
                    return makeError(ErrorCode::AssetFileNotFound, asset->fileURL().string());
                }
                const std::string assetName = key + "-" + makeUUIDString();
                fs::create_directories(assetFolder(name), ec);
                const std::uintmax_t before = done;
                const RecordID id = record.recordID();
                if (!copyFileAtomically(asset->fileURL(), assetFolder(name) / assetName, [&](std::uintmax_t n) {
                        done = before + n;
                        if (progress && total) {
                            const double f = static_cast<double>(done) / static_cast<double>(total);
                            gate.post([progress, id, f] { progress(id, f); });
                        }
                    })) {
                    undo();
                    return makeError(ErrorCode::InternalError, "cannot copy " + asset->fileURL().string());
                }
                written.push_back(assetFolder(name) / assetName);
                next.fields[key] = encodeValue(*value, assetName);
                if (!oldAsset.empty()) replaced.push_back(assetFolder(name) / oldAsset);
                continue;
            }
            next.fields[key] = encodeValue(*value, {});
            if (!oldAsset.empty()) replaced.push_back(assetFolder(name) / oldAsset);
        }
        next.modified = now;
        next.modifier = me_;
        next.changeTag = makeUUIDString();
        fs::create_directories(path.parent_path(), ec);
        std::string why;
        if (gate.ended() || !writePlistFile(path, encodeStored(next), &why)) {
            undo();
            return makeError(gate.ended() ? ErrorCode::TimedOut : ErrorCode::InternalError, why);
        }
        for (const auto& p : replaced) fs::remove(p, ec);
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

    std::optional<Error> deleteOne(const RecordID& id) const {
        const auto path = findRecord(id.recordName);
        if (!path) {
            if (!isValidStoreName(id.recordName)) return makeError(ErrorCode::InvalidArguments, id.recordName);
            return std::nullopt; // already gone
        }
        // An unreadable public record has no known creator: only a moderator removes it.
        const auto stored = readStored(*path);
        if (stored ? !mayChangeAnything(*stored) : (public_ && !moderators_.count(me_)))
            return makeError(ErrorCode::PermissionFailure, id.recordName);
        std::error_code ec;
        if (!fs::remove(*path, ec) && ec) return makeError(ErrorCode::InternalError, ec.message());
        fs::remove_all(assetFolder(id.recordName), ec);
        return std::nullopt;
    }

    ModifyResult modifyNow(const std::vector<Record>& toSave, const std::vector<RecordID>& toDelete,
                           const SaveProgress& progress, ProgressGate& gate) const {
        // Check and write are one step for the writers of this process; writers on other
        // machines are caught by the change tag only when they are not simultaneous.
        static std::mutex writers;
        std::lock_guard lock(writers);
        ModifyResult result;
        if (auto e = reachable()) {
            result.error = e;
            return result;
        }
        for (const auto& record : toSave) {
            Record saved(record.recordType(), record.recordID());
            if (auto e = saveOne(record, progress, gate, saved))
                result.recordErrors[record.recordID()] = *e;
            else
                result.savedRecords.push_back(std::move(saved));
        }
        for (const auto& id : toDelete) {
            if (auto e = deleteOne(id))
                result.recordErrors[id] = *e;
            else
                result.deletedRecordIDs.push_back(id);
        }
        if (!result.recordErrors.empty()) result.error = result.recordErrors.begin()->second;
        return result;
    }

    QueryResult queryNow(const QueryCursor& cursor, const DesiredKeys& keys, std::size_t limit) const {
        QueryResult result;
        if (auto e = reachable()) {
            result.error = e;
            return result;
        }
        if (!isValidStoreName(cursor.query.recordType)) {
            result.error = makeError(ErrorCode::InvalidArguments, cursor.query.recordType);
            return result;
        }
        std::vector<Stored> all;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(root_ / "Records" / cursor.query.recordType, ec)) {
            if (entry.path().extension() != ".plist") continue;
            if (auto s = readStored(entry.path()); s && s->type == cursor.query.recordType) all.push_back(std::move(*s));
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
        for (std::size_t i = cursor.offset; i < end; ++i) result.records.push_back(toRecord(all[order[i].second], keys, {}));
        if (end < order.size()) result.cursor = QueryCursor{cursor.query, end};
        return result;
    }

    fs::path root_;
    std::string me_;
    bool public_;
    std::set<std::string> moderators_;
    std::set<std::string> openFields_;
    fs::path cache_;
    std::shared_ptr<SerialQueue> queue_;
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
        const fs::path root = config_.folder / (valid_ ? config_.containerIdentifier : std::string("invalid"));
        queue_ = callbackQueue();
        public_ = std::make_shared<FolderDatabase>(root / "Public", me_, true, config_.moderators, config_.openFields,
                                                   config_.cacheFolder, queue_);
        private_ = std::make_shared<FolderDatabase>(root / "Private" / (me_.empty() ? "none" : me_), me_, false,
                                                    std::set<std::string>{}, std::set<std::string>{},
                                                    config_.cacheFolder, queue_);
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
