#pragma once
#include <string>
#include <string_view>

namespace taviro::storesql {

// An identifier in double quotes, inner double quotes doubled.
inline std::string quoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

// The statement of the user dictionary's pattern lookups on `table`.
inline std::string userPatternStatement(std::string_view table) {
    return "SELECT * FROM " + quoteIdentifier(table) + " WHERE Py like ? ORDER BY Weight DESC";
}

// SQLite result codes (primary or extended) of a file that is not a database
// or is damaged, and of a lock held by another connection.
inline bool isDamagedCode(int code) {
    const int primary = code & 0xff;
    return primary == 11 /* SQLITE_CORRUPT */ || primary == 26 /* SQLITE_NOTADB */;
}
inline bool isLockedCode(int code) {
    const int primary = code & 0xff;
    return primary == 5 /* SQLITE_BUSY */ || primary == 6 /* SQLITE_LOCKED */;
}
// A file that cannot be written now: the disk is full, writing it failed, or
// the file or its folder may not be written (no journal can be made).
inline bool isFullCode(int code) {
    const int primary = code & 0xff;
    return primary == 13 /* SQLITE_FULL */ || primary == 10 /* SQLITE_IOERR */ || primary == 8 /* SQLITE_READONLY */ ||
           primary == 14 /* SQLITE_CANTOPEN */;
}

} // namespace taviro::storesql
