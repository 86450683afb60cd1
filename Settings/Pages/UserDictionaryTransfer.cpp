#include "Settings/Pages/UserDictionaryTransfer.h"

#include "Platform/Foundation/Log.h"
#include "Settings/CommandBracket.h"
#include "Settings/DatabaseFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <system_error>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

bool fsyncFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Copies the database at `source` into a new file at `destination` (SQLite's backup);
// waits at most a few seconds for a lock the input method still holds.
std::string backupDatabase(const fs::path& source, const fs::path& destination) {
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    std::string error;
    if (sqlite3_open_v2(source.c_str(), &from, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = "无法打开用户词库：" + std::string(from ? sqlite3_errmsg(from) : "");
    } else if (sqlite3_open_v2(destination.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
               SQLITE_OK) {
        error = "无法写入目标文件：" + std::string(to ? sqlite3_errmsg(to) : "");
    } else {
        sqlite3_busy_timeout(from, 5000);
        sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
        if (!backup) {
            error = "无法导出用户词库：" + std::string(sqlite3_errmsg(to));
        } else {
            int rc = SQLITE_OK;
            for (int attempt = 0; attempt < 50; ++attempt) {
                rc = sqlite3_backup_step(backup, -1);
                if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
                sqlite3_sleep(100);
            }
            sqlite3_backup_finish(backup);
            if (rc != SQLITE_DONE) error = "无法导出用户词库：" + std::string(sqlite3_errstr(rc));
        }
    }
    sqlite3_close(from);
    if (to && sqlite3_close(to) != SQLITE_OK && error.empty()) error = "无法写入目标文件";
    return error;
}

UserDictionaryTransfer::Result failure(std::string error) {
    plat::log("Kelvane: " + error);
    return {false, std::move(error)};
}

} // namespace

UserDictionaryTransfer::Result UserDictionaryTransfer::exportTo(const fs::path& target, const fs::path& perUserFolder) {
    const fs::path source = perUserFolder / "user.db";
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) return failure("还没有用户词库可以导出");
    if (target.empty() || fs::is_directory(target, ec)) return failure("请选择一个文件名");
    if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) return failure("不能导出到用户词库自身");
    CommandBracket bracket(CommandBracket::Kind::UserDictionary);
    const fs::path temporary = DatabaseFile::temporaryPathBeside(target);
    std::string error = backupDatabase(source, temporary);
    if (error.empty() && !fsyncFile(temporary)) error = "无法写入目标文件";
    if (error.empty()) {
        fs::rename(temporary, target, ec);
        if (ec) error = "无法写入目标文件：" + ec.message();
    }
    if (!error.empty()) {
        DatabaseFile::removeWithCompanions(temporary);
        return failure(error);
    }
    return {true, {}};
}

UserDictionaryTransfer::Result UserDictionaryTransfer::importFrom(const fs::path& source, const fs::path& perUserFolder) {
    const fs::path target = perUserFolder / "user.db";
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) return failure("找不到所选的文件");
    if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) return failure("所选文件就是当前的用户词库");
    if (!DatabaseFile::hasSQLiteHeader(source)) return failure("所选文件不是 SQLite 数据库，用户词库未改变");
    fs::create_directories(perUserFolder, ec);
    const fs::path temporary = DatabaseFile::temporaryPathBeside(target);
    fs::copy_file(source, temporary, ec);
    if (ec) {
        DatabaseFile::removeWithCompanions(temporary);
        return failure("无法复制所选文件（" + ec.message() + "），用户词库未改变");
    }
    if (!fsyncFile(temporary) || !DatabaseFile::check(temporary)) {
        DatabaseFile::removeWithCompanions(temporary);
        return failure("所选文件未通过数据库完整性检查，用户词库未改变");
    }
    if (!DatabaseFile::replace(temporary, target)) return failure("无法替换用户词库，用户词库未改变");
    return {true, {}};
}

} // namespace kelvane
