#include "Platform/Foundation/FileManager.h"

#include "Platform/Foundation/TemporaryFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <system_error>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

// A name beside `target` that nothing uses yet.
fs::path temporarySibling(const fs::path& target) { return temporaryPathFor(target, TemporaryKind::AtomicWrite); }

void syncPath(const fs::path& p, bool folder) {
    int fd = ::open(p.c_str(), (folder ? (O_RDONLY | O_DIRECTORY) : O_RDONLY) | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Copies into `tmp` (which must not exist); flushes regular files.
bool copyToTemporary(const fs::path& from, const fs::path& tmp) {
    std::error_code ec;
    if (fs::is_directory(from, ec)) {
        fs::copy(from, tmp, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        return !ec;
    }
    if (!fs::is_regular_file(from, ec)) return false;
    if (!fs::copy_file(from, tmp, ec) || ec) return false;
    syncPath(tmp, false);
    return true;
}

bool replaceWith(const fs::path& tmp, const fs::path& to, bool overwrite) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        if (!overwrite) return false;
        // rename() replaces a file in one step but not a non-empty folder.
        if (fs::is_directory(fs::symlink_status(to, ec)) || fs::is_directory(tmp, ec)) {
            fs::remove_all(to, ec);
            if (ec) return false;
        }
    }
    fs::rename(tmp, to, ec);
    if (ec) return false;
    syncPath(to.has_parent_path() ? to.parent_path() : fs::path("."), true);
    return true;
}

} // namespace

bool FileManager::fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool FileManager::isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool FileManager::isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool FileManager::removeItem(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return false;
    fs::remove_all(path, ec);
    return !ec;
}

bool FileManager::copyItem(const fs::path& from, const fs::path& to, bool overwrite) {
    std::error_code ec;
    if (!fs::exists(from, ec) || to.empty()) return false;
    if (!overwrite && fs::exists(fs::symlink_status(to, ec))) return false;
    if (fs::equivalent(from, to, ec)) return false;
    const fs::path tmp = temporarySibling(to);
    if (tmp.empty()) return false;
    if (!copyToTemporary(from, tmp) || !replaceWith(tmp, to, overwrite)) {
        fs::remove_all(tmp, ec);
        return false;
    }
    return true;
}

bool FileManager::moveItem(const fs::path& from, const fs::path& to, bool overwrite) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(from, ec)) || to.empty()) return false;
    const bool targetExists = fs::exists(fs::symlink_status(to, ec));
    if (targetExists && !overwrite) return false;
    if (fs::equivalent(from, to, ec)) return false;
    if (targetExists && fs::is_directory(fs::symlink_status(to, ec))) {
        fs::remove_all(to, ec);
        if (ec) return false;
    }
    fs::rename(from, to, ec);
    if (!ec) return true;
    if (ec != std::errc::cross_device_link) return false;
    if (!copyItem(from, to, overwrite)) return false;
    fs::remove_all(from, ec);
    return true;
}

bool FileManager::createDirectory(const fs::path& path, bool intermediates) {
    std::error_code ec;
    if (intermediates) {
        fs::create_directories(path, ec);
        return fs::is_directory(path, ec);
    }
    return fs::create_directory(path, ec) && !ec;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const fs::path& path) {
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec) return std::nullopt;
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return std::nullopt;
        names.push_back(it->path().filename().string());
    }
    if (ec) return std::nullopt;
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::uintmax_t> FileManager::fileSize(const fs::path& path) {
    std::error_code ec;
    auto n = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return n;
}

} // namespace plat
