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

DictionaryFileRead fail(State state, std::string reason) {
    DictionaryFileRead out;
    out.state = state;
    out.reason = std::move(reason);
    return out;
}

// The whole file through one descriptor, so that the size checked is the size of
// the file read.
DictionaryFileRead readBytes(const fs::path& path, std::uintmax_t maxSize, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT) return fail(State::missing, {});
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return fail(State::unreadable, "it is a symbolic link");
        return fail(State::unreadable, std::strerror(err));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(State::unreadable, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail(State::unreadable, "it is not a regular file");
    const auto size = static_cast<std::uintmax_t>(st.st_size);
    if (size > maxSize)
        return fail(State::tooLarge, "it is " + std::to_string(size) + " bytes, more than " +
                                         std::to_string(maxSize));
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(State::unreadable, std::strerror(errno));
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return fail(State::readable, {});
}

} // namespace

DictionaryFileRead readDictionaryFile(const fs::path& path, std::uintmax_t maxSize,
                                      const std::function<bool(const PlistValue::Dictionary&)>& accepts) {
    std::string bytes;
    DictionaryFileRead out = readBytes(path, maxSize, bytes);
    if (out.state != State::readable) return out;
    if (bytes.empty()) return fail(State::damaged, "it is empty");
    const bool binary = bytes.compare(0, 8, "bplist00") == 0;
    if (!binary && !isValidUtf8(bytes)) return fail(State::damaged, "it is not UTF-8 text");
    auto value = parsePlist(bytes);
    if (!value) return fail(State::damaged, "it is not a property list");
    const PlistValue::Dictionary* dict = value->asDictionary();
    if (!dict) return fail(State::damaged, "its root is not a dictionary");
    if (accepts && !accepts(*dict)) return fail(State::damaged, "it holds values of another type");
    out.dictionary = *dict;
    return out;
}

namespace {

bool stringsOnly(const PlistValue::Dictionary& dict) {
    for (const auto& [key, value] : dict)
        if (!value.stringPtr()) return false;
    return true;
}

DictionaryFileRead loadOrSetAside(const fs::path& path, const fs::path& lockFile, std::chrono::milliseconds lockWait,
                                  std::optional<SetAsideFile>* setAside, std::chrono::system_clock::time_point now,
                                  const std::function<bool(const PlistValue::Dictionary&)>& accepts) {
    DictionaryFileRead first = readDictionaryFile(path, kMaxDictionaryFileSize, accepts);
    if (!first.setAsideWorthy()) return first;

    std::string error;
    auto lock = FileLock::acquire(lockFile, lockWait, &error);
    if (!lock) {
        first.reason += " (not moved aside: " + error + ")";
        return first;
    }
    DictionaryFileRead again = readDictionaryFile(path, kMaxDictionaryFileSize, accepts);
    if (!again.setAsideWorthy()) return again; // the other program dealt with it

    const fs::path aside = asideName(path, "damaged", now);
    std::error_code ec;
    fs::rename(path, aside, ec);
    if (ec) {
        again.reason += " (not moved aside: " + ec.message() + ")";
        return again;
    }
    if (setAside) *setAside = SetAsideFile{aside, again.state, again.reason};
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
    // A file that already holds the changes needs neither the lock nor a write.
    if (DictionaryFileRead now = readDictionaryFile(path); now.ok()) {
        MergeOutcome ignored;
        if (auto merged = applyChanges(path, now, changes, ignored); merged && *merged == now.dictionary) {
            out.status = MergeOutcome::Status::written;
            out.onDisk = std::move(now.dictionary);
            return out;
        }
    }
    auto lock = FileLock::acquire(lockFile, lockWait, &out.error);
    if (!lock) {
        out.status = MergeOutcome::Status::lockTimeout;
        return out;
    }
    const DictionaryFileRead disk = readDictionaryFile(path);
    auto merged = applyChanges(path, disk, changes, out);
    if (!merged) return out;
    if (disk.state == State::readable && *merged == disk.dictionary) {
        out.status = MergeOutcome::Status::written;
        out.onDisk = std::move(*merged);
        return out;
    }
    if (!writePlistFile(path, PlistValue(*merged), &out.error)) {
        out.status = MergeOutcome::Status::writeFailed;
        return out;
    }
    out.status = MergeOutcome::Status::written;
    out.replaced = true;
    out.onDisk = std::move(*merged);
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
