#include "Platform/Foundation/DictionaryFile.h"

#include "Platform/Foundation/FileLock.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Utf8.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace fs = std::filesystem;

namespace {

using State = DictionaryFileRead::State;

DictionaryFileRead fail(State state, std::string reason, std::string userReason) {
    DictionaryFileRead out;
    out.state = state;
    out.reason = std::move(reason);
    out.userReason = std::move(userReason);
    return out;
}

// What stands in a file's place when it is not a regular file (`st` from lstat).
DictionaryFileRead notAFile(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return fail(State::notAFile, "it is a symbolic link", "它是一个符号链接");
    if (S_ISDIR(st.st_mode)) return fail(State::notAFile, "it is a folder", "它的位置上是一个文件夹");
    return fail(State::notAFile, "it is not a regular file", "它的位置上不是普通文件");
}

// The whole file through one descriptor, so that the size checked is the size of
// the file read.
DictionaryFileRead readBytes(const fs::path& path, std::uintmax_t maxSize, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) return fail(State::missing, {}, {});
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return notAFile(st);
        return fail(State::unreadable, std::strerror(err), "无法打开");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(State::unreadable, std::strerror(errno), "无法读取");
    if (!S_ISREG(st.st_mode)) return notAFile(st);
    const auto size = static_cast<std::uintmax_t>(st.st_size);
    if (size > maxSize)
        return fail(State::tooLarge,
                    "it is " + std::to_string(size) + " bytes, more than " + std::to_string(maxSize),
                    "文件有 " + std::to_string(size) + " 字节，超过上限 " + std::to_string(maxSize) + " 字节");
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(State::unreadable, std::strerror(errno), "无法读取");
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return fail(State::readable, {}, {});
}

} // namespace

DictionaryFileRead readDictionaryFile(const fs::path& path, std::uintmax_t maxSize,
                                      const std::function<bool(const PlistValue::Dictionary&)>& accepts) {
    std::string bytes;
    DictionaryFileRead out = readBytes(path, maxSize, bytes);
    if (out.state != State::readable) return out;
    if (bytes.empty()) return fail(State::damaged, "it is empty", "文件是空的");
    const bool binary = bytes.compare(0, 8, "bplist00") == 0;
    if (!binary && !isValidUtf8(bytes)) return fail(State::damaged, "it is not UTF-8 text", "不是 UTF-8 文本");
    auto value = parsePlist(bytes);
    if (!value) return fail(State::damaged, "it is not a property list", "内容不是属性列表");
    const PlistValue::Dictionary* dict = value->asDictionary();
    if (!dict) return fail(State::damaged, "its root is not a dictionary", "最外层不是字典");
    if (accepts && !accepts(*dict))
        return fail(State::damaged, "it holds values of another type", "含有类型不对的值");
    out.dictionary = *dict;
    return out;
}

namespace {

bool stringsOnly(const PlistValue::Dictionary& dict) {
    for (const auto& [key, value] : dict)
        if (!value.stringPtr()) return false;
    return true;
}

// A settings file as the load and merge functions read it, following a link in its
// place as far as they may. `place` (when given) is set to where the file's bytes
// are and a new version goes: the link's target, else `path`.
DictionaryFileRead readSettingsFile(const fs::path& path,
                                    const std::function<bool(const PlistValue::Dictionary&)>& accepts = {},
                                    fs::path* place = nullptr) {
    if (place) *place = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return readDictionaryFile(path, kMaxDictionaryFileSize, accepts);
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    struct stat file {};
    if (ec || ::lstat(target.c_str(), &file) != 0)
        return fail(State::notAFile, "it is a link that leads to no file" + (ec ? " (" + ec.message() + ")" : std::string()),
                    "它是一个链接，指向的文件不存在");
    if (S_ISDIR(file.st_mode))
        return fail(State::notAFile, "it is a link to a folder", "它是一个链接，指向一个文件夹");
    if (!S_ISREG(file.st_mode))
        return fail(State::notAFile, "it is a link to something other than a file", "它是一个链接，指向的不是普通文件");
    if (file.st_uid != ::geteuid())
        return fail(State::notAFile, "it is a link to another account's file", "它是一个链接，指向另一个账户的文件");
    if (file.st_nlink != 1)
        return fail(State::notAFile, "it is a link to a file with other hard links",
                    "它是一个链接，指向的文件还有别的硬链接");
    if (place) *place = target;
    return readDictionaryFile(target, kMaxDictionaryFileSize, accepts);
}

DictionaryFileRead loadOrSetAside(const fs::path& path, const fs::path& lockFile, std::chrono::milliseconds lockWait,
                                  std::optional<SetAsideFile>* setAside, std::chrono::system_clock::time_point now,
                                  const std::function<bool(const PlistValue::Dictionary&)>& accepts) {
    DictionaryFileRead first = readSettingsFile(path, accepts);
    if (!first.setAsideWorthy()) return first;

    std::string error;
    auto lock = FileLock::acquire(lockFile, lockWait, &error);
    if (!lock) {
        first.reason += " (not moved aside: " + error + ")";
        return first;
    }
    DictionaryFileRead again = readSettingsFile(path, accepts);
    if (!again.setAsideWorthy()) return again; // the other program dealt with it

    // A link is renamed itself: what it leads to stays as it is.
    const fs::path aside = asideName(path, "damaged", now);
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        again.reason += " (not moved aside: " + std::string(std::strerror(errno)) + ")";
        return again;
    }
    if (setAside) *setAside = SetAsideFile{aside, again.state, again.reason, again.userReason};
    return DictionaryFileRead{};
}

} // namespace

DictionaryFileRead loadDictionaryFile(const fs::path& path, const fs::path& lockFile,
                                      std::chrono::milliseconds lockWait, std::optional<SetAsideFile>* setAside,
                                      std::chrono::system_clock::time_point now) {
    return loadOrSetAside(path, lockFile, lockWait, setAside, now, {});
}

DictionaryFileRead loadStringMapFile(const fs::path& path, const fs::path& lockFile,
                                     std::chrono::milliseconds lockWait, std::optional<SetAsideFile>* setAside,
                                     std::chrono::system_clock::time_point now) {
    return loadOrSetAside(path, lockFile, lockWait, setAside, now, stringsOnly);
}

std::string setAsideSentence(const fs::path& path, const SetAsideFile& aside) {
    const char* what = aside.state == State::damaged    ? " 已损坏（"
                       : aside.state == State::tooLarge ? " 过大，未读取（"
                                                        : " 无法使用（";
    return "设置文件 " + path.filename().string() + what + aside.userReason + "），原文件已保留为 " +
           aside.aside.filename().string();
}

std::map<std::string, std::string> stringMapOf(const PlistValue::Dictionary& dictionary) {
    std::map<std::string, std::string> out;
    for (const auto& [key, value] : dictionary)
        if (const std::string* text = value.stringPtr()) out.emplace(key, *text);
    return out;
}

namespace {

// What the file should hold once the changes are applied to it as read; none
// when the file is to be left as it is (`out` then says why).
std::optional<PlistValue::Dictionary> applyChanges(const fs::path& path, const DictionaryFileRead& disk,
                                                   const DictionaryChanges& changes, MergeOutcome& out) {
    if (disk.state == State::readable && changes.accepts && !changes.accepts(disk.dictionary)) {
        out.status = MergeOutcome::Status::refused;
        out.error = "cannot use " + path.string() + ": it holds values of another type";
        return std::nullopt;
    }
    PlistValue::Dictionary merged;
    switch (disk.state) {
    case State::readable: merged = disk.dictionary; break;
    case State::missing:
        if (changes.whenMissing) merged = *changes.whenMissing;
        break;
    default:
        out.status = MergeOutcome::Status::refused;
        out.error = "cannot read " + path.string() + ": " + disk.reason;
        return std::nullopt;
    }
    if (disk.state == State::readable || !changes.whenMissing) {
        for (const auto& [key, value] : changes.changed) {
            if (value) merged[key] = *value;
            else merged.erase(key);
        }
        for (const auto& [key, value] : changes.fill) {
            auto it = merged.find(key);
            if (it == merged.end()) merged.emplace(key, value);
            else if (changes.keeps && !changes.keeps(key, it->second)) it->second = value;
        }
    }
    return merged;
}

} // namespace

MergeOutcome mergeIntoDictionaryFile(const fs::path& path, const fs::path& lockFile,
                                     const DictionaryChanges& changes, std::chrono::milliseconds lockWait) {
    MergeOutcome out;
    // A file that already holds the changes needs neither the lock nor a write, and
    // neither does one that exists when there is nothing to write. One that cannot be
    // used is refused whether or not the lock could be had.
    DictionaryFileRead now = readSettingsFile(path);
    struct stat st {};
    if (changes.changed.empty() && changes.fill.empty() && ::lstat(path.c_str(), &st) == 0) {
        out.status = MergeOutcome::Status::written;
        out.onDisk = std::move(now.dictionary);
        return out;
    }
    if (now.state != State::missing) {
        auto merged = applyChanges(path, now, changes, out);
        if (!merged) return out;
        if (*merged == now.dictionary) {
            out.status = MergeOutcome::Status::written;
            out.onDisk = std::move(now.dictionary);
            return out;
        }
    }
    int lockError = 0;
    auto lock = FileLock::acquire(lockFile, lockWait, &out.error, &lockError);
    if (!lock) {
        out.status = lockError == EWOULDBLOCK ? MergeOutcome::Status::lockTimeout : MergeOutcome::Status::lockUnavailable;
        return out;
    }
    fs::path place;
    const DictionaryFileRead disk = readSettingsFile(path, {}, &place);
    auto merged = applyChanges(path, disk, changes, out);
    if (!merged) return out;
    if (disk.state == State::readable && *merged == disk.dictionary) {
        out.status = MergeOutcome::Status::written;
        out.onDisk = std::move(*merged);
        return out;
    }
    if (!writePlistFile(place, PlistValue(*merged), &out.error)) {
        out.status = MergeOutcome::Status::writeFailed;
        return out;
    }
    out.status = MergeOutcome::Status::written;
    out.replaced = true;
    out.onDisk = std::move(*merged);
    return out;
}

UnwrittenFile unwrittenFile(const fs::path& path, const MergeOutcome& outcome) {
    const bool held = outcome.status == MergeOutcome::Status::lockTimeout;
    return {path.filename().string(), held ? UnwrittenFile::Cause::lockHeld : UnwrittenFile::Cause::unusable,
            outcome.error};
}

std::string describeUnwritten(const std::vector<UnwrittenFile>& files) {
    std::string out;
    for (const auto& file : files)
        out += (out.empty() ? "" : "; ") + file.name +
               (file.cause == UnwrittenFile::Cause::lockHeld ? ": locked by another program (" : ": cannot be used (") +
               file.error + ")";
    return out;
}

DictionaryChanges dictionaryDifference(const PlistValue::Dictionary& before, const PlistValue::Dictionary& after) {
    DictionaryChanges out;
    for (const auto& [key, value] : before)
        if (!after.contains(key)) out.changed.emplace(key, std::nullopt);
    for (const auto& [key, value] : after) {
        auto it = before.find(key);
        if (it == before.end() || !(it->second == value)) out.changed.emplace(key, value);
    }
    return out;
}

namespace {

PlistValue::Dictionary stringDictionary(const std::map<std::string, std::string>& map) {
    PlistValue::Dictionary out;
    for (const auto& [key, value] : map) out.emplace(key, PlistValue(value));
    return out;
}

} // namespace

DictionaryChanges stringMapDifference(const std::map<std::string, std::string>& before,
                                      const std::map<std::string, std::string>& after) {
    DictionaryChanges changes = dictionaryDifference(stringDictionary(before), stringDictionary(after));
    changes.whenMissing = stringDictionary(after);
    changes.accepts = stringsOnly;
    return changes;
}

std::map<std::string, std::string> withStringMapChanges(std::map<std::string, std::string> onto,
                                                        const std::map<std::string, std::string>& before,
                                                        const std::map<std::string, std::string>& after) {
    for (const auto& [key, value] : before)
        if (!after.contains(key)) onto.erase(key);
    for (const auto& [key, value] : after) {
        auto it = before.find(key);
        if (it == before.end() || it->second != value) onto[key] = value;
    }
    return onto;
}

} // namespace plat
