#include "Settings/Pages/UserDictionaryTransfer.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Utf8.h"
#include "Settings/CommandBracket.h"
#include "Settings/DatabaseCopy.h"
#include "Settings/DatabaseFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

// The user's sentence for a failed copy; SQLite's own words (in English, and from the
// integrity check up to a hundred lines of them) are for the log only.
std::string copyFailure(const DatabaseCopyError& error, bool import) {
    using Step = DatabaseCopyError::Step;
    switch (error.step) {
    case Step::OpenSource: return import ? "无法打开所选文件" : "无法打开用户词库";
    case Step::OpenDestination: return import ? "无法在用户词库旁写入文件" : "无法写入目标文件";
    case Step::Copy:
        if ((error.code & 0xff) == SQLITE_FULL) return import ? "磁盘空间不足，无法复制所选文件" : "磁盘空间不足";
        if ((error.code & 0xff) == SQLITE_BUSY || (error.code & 0xff) == SQLITE_LOCKED)
            return import ? "所选文件正被其他程序占用，无法读取" : "用户词库正被其他程序占用，无法读取";
        if ((error.code & 0xff) != SQLITE_CORRUPT && (error.code & 0xff) != SQLITE_NOTADB)
            return import ? "无法读取所选文件" : "无法读取用户词库";
        return import ? "所选文件已损坏" : "用户词库已损坏";
    case Step::Check: break;
    }
    return import ? "所选文件已损坏（未通过数据库完整性检查）" : "用户词库已损坏（未通过数据库完整性检查）";
}

// Copies the database at `source` into a new file at `destination` (SQLite's backup);
// waits at most a few seconds for a lock the input method still holds.
// `detail` receives SQLite's words for the log.
std::string backupDatabase(const fs::path& source, const fs::path& destination, std::string& detail) {
    const auto error = copyDatabase(source, destination);
    if (!error) return {};
    detail = error->detail;
    return copyFailure(*error, false) + "，未能导出";
}

// Why the input method could not use the database at `path` as its user dictionary, or
// empty when it can: every table holds exactly the columns Py, Word, Weight and New in
// this order (the learning writes four values and reads the first three by position),
// there is at least one, nothing else than tables and their indexes is in the file, and
// every code and word is valid UTF-8.
std::string unusableReason(const fs::path& path) {
    constexpr const char* kNotADictionary = "所选文件不是可用的用户词库";
    constexpr const char* kBadText = "所选文件中有词条不是有效的 UTF-8 文本";
    sqlite3* db = nullptr;
    std::string reason;
    std::vector<std::string> tables;
    const auto rows = [&](const std::string& sql, const std::function<bool(sqlite3_stmt*)>& row) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return false;
        }
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            if (!row(stmt)) break;
        sqlite3_finalize(stmt);
        return rc == SQLITE_ROW || rc == SQLITE_DONE;
    };
    const auto text = [](sqlite3_stmt* stmt, int column) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        return std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
    };
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return kNotADictionary;
    }
    bool onlyTables = true;
    const bool listed =
        rows("SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'", [&](sqlite3_stmt* st) {
            const std::string type = text(st, 0);
            if (type == "table") tables.push_back(text(st, 1));
            else if (type != "index") onlyTables = false;
            return true;
        });
    if (!listed || !onlyTables || tables.empty()) reason = kNotADictionary;
    static const std::vector<std::string> kColumns{"py", "word", "weight", "new"};
    for (size_t t = 0; t < tables.size() && reason.empty(); ++t) {
        std::string quoted = "\"";
        for (char c : tables[t]) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        quoted += '"';
        std::vector<std::string> columns;
        rows("PRAGMA table_info(" + quoted + ")", [&](sqlite3_stmt* st) {
            std::string name = text(st, 1);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            columns.push_back(std::move(name));
            return true;
        });
        if (columns != kColumns) {
            reason = kNotADictionary;
            break;
        }
        bool valid = true;
        if (!rows("SELECT Py, Word FROM " + quoted, [&](sqlite3_stmt* st) {
                for (int c = 0; c < 2 && valid; ++c)
                    valid = sqlite3_column_type(st, c) == SQLITE_NULL || plat::isValidUtf8(text(st, c));
                return valid;
            }))
            reason = kNotADictionary;
        else if (!valid)
            reason = kBadText;
    }
    sqlite3_close(db);
    return reason;
}

// `detail` (SQLite's or the system's words) goes to the log beside the user's sentence.
UserDictionaryTransfer::Result failure(std::string error, const std::string& detail = {}) {
    plat::log("Kelvane: " + error + (detail.empty() ? std::string() : " (" + detail + ")"));
    return {false, std::move(error)};
}

} // namespace

UserDictionaryTransfer::Result UserDictionaryTransfer::exportTo(const fs::path& target, const fs::path& perUserFolder) {
    const fs::path source = perUserFolder / "user.db";
    std::error_code ec;
    if (fs::is_symlink(source, ec)) return failure("用户词库 user.db 是一个链接，未能导出");
    if (!fs::is_regular_file(source, ec)) return failure("还没有用户词库可以导出");
    if (target.empty() || fs::is_directory(target, ec)) return failure("请选择一个文件名");
    if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) return failure("不能导出到用户词库自身");
    CommandBracket bracket(CommandBracket::Kind::UserDictionary);
    const fs::path temporary = DatabaseFile::temporaryPathBeside(target);
    std::string detail;
    std::string error = backupDatabase(source, temporary, detail);
    if (error.empty()) {
        // The user's own words: theirs alone to read.
        fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write, ec);
        fs::rename(temporary, target, ec);
        if (ec) error = "无法写入目标文件：" + ec.message();
    }
    if (!error.empty()) {
        DatabaseFile::removeWithCompanions(temporary);
        return failure(error, detail);
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
    TemporaryDatabase copy(target);
    if (!copy.created()) return failure("无法在用户词库旁写入文件，用户词库未改变");
    // Through SQLite, so that what a source in WAL mode holds in its -wal comes too; the
    // source itself is only read.
    if (const auto error = copyDatabase(source, copy.path()))
        return failure(copyFailure(*error, true) + "，用户词库未改变", error->detail);
    // The copy is what would be put in place, so the copy is what is checked.
    if (const std::string reason = unusableReason(copy.path()); !reason.empty()) return failure(reason + "，用户词库未改变");
    fs::permissions(copy.path(), fs::perms::owner_read | fs::perms::owner_write, ec);  // the user's own words
    // The input method keeps its dictionary while the copy is made and checked; it lets
    // go of it only for the rename.
    bool replaced = false;
    {
        CommandBracket bracket(CommandBracket::Kind::UserDictionary);
        replaced = copy.putInPlace();
    }
    if (!replaced) return failure("无法替换用户词库，用户词库未改变");
    return {true, {}};
}

} // namespace kelvane
