#pragma once
#include <filesystem>
#include <string>

namespace kelvane {

// Moves the user dictionary ("user.db" in the per-user folder) in and out. Neither ever
// leaves a half-written file. Both tell the input method to let go of its databases
// ("closeDatabase", "okToUse" false ... "needsReloadDBLink", "okToUse" true): export
// around its copy, import only around the rename of its checked copy.
class UserDictionaryTransfer {
public:
    struct Result {
        bool ok = false;
        std::string error; // shown to the user when !ok
    };

    // Copies user.db through SQLite's backup interface into a temporary file beside
    // `target`, then renames it over `target` (readable by the user alone).
    static Result exportTo(const std::filesystem::path& target, const std::filesystem::path& perUserFolder);
    // Replaces user.db by a copy of `source` made through SQLite (with what its -wal holds;
    // the source is only read), which must be another file, an SQLite database that
    // passes its integrity check and that the input method can use as its user
    // dictionary (its tables and columns, words in valid UTF-8). The new user.db is
    // readable by the user alone. On any failure user.db stays as it was and no temporary
    // file is left.
    static Result importFrom(const std::filesystem::path& source, const std::filesystem::path& perUserFolder);
};

} // namespace kelvane
