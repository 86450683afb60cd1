#pragma once
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace sqlkit {

// A file taken out of a database's place: where it was, where it is now, and
// why (in English for the log, in Chinese for the user).
struct SQLSetAside {
    std::filesystem::path path;
    std::filesystem::path aside;
    std::string reason;
    std::string reasonForUser;
};

// The databases the programs write in their own folders are opened without
// following a link: what is written there must land in that folder and in
// no other file.
class SQLOwnFile {
public:
    struct Options {
        // The file and its journals become the owner's alone (what the user typed).
        bool makePrivate = false;
        // A missing file is made empty (0600 with makePrivate), so that SQLite fills it
        // and does not create one with the umask's mode.
        bool create = false;
        std::chrono::system_clock::time_point when = std::chrono::system_clock::now();
    };

    struct Prepared {
        std::vector<SQLSetAside> setAside;
        // Why the file must not be opened after all (a link that could not be moved),
        // for the caller to log: empty when it may.
        std::string refused;
    };

    // Readies `path` for opening: a symbolic link or a file with other hard links at the
    // path or at its "-journal", "-wal" or "-shm" name is renamed (the name itself, never
    // what it leads to) to "<name>.unusable-<time>" beside it, and logged. The journals
    // of a file set aside go with it ("<aside>-wal"...): they belong to its content.
    // Folders, FIFOs and the like are left for the caller to refuse.
    static Prepared prepare(const std::filesystem::path& path, const Options& options);

    // The user's notice for set-asides: one sentence each, empty for none.
    static std::string noticeText(const std::vector<SQLSetAside>& setAside);

    // The open flag that refuses a link at the database's path (SQLite's
    // SQLITE_OPEN_NOFOLLOW). SQLite never follows a link at a journal's name.
    // SQLite refuses a link anywhere in the name it is given: open `openName(path)`
    // (SQLDatabase::openWithFlags does so itself).
    static constexpr int kOpenNoFollow = 0x01000000;

    // The name to give SQLite with kOpenNoFollow: the folder resolved (the programs'
    // folders may be reached through links), the file's own name as it is.
    static std::string openName(const std::filesystem::path& path);
};

} // namespace sqlkit
