#pragma once
// Guide-button tables: property-list files of "BootButtons/" in the user folder, a
// dictionary from key ("a" to "z", "a⇣" to "z⇣", ";", "'⇣") to a value (text, a "#"
// command, or text then a command).
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

using BootButtonTable = std::map<std::string, std::string>;

// The name of the default table.
inline constexpr std::string_view kDefaultBootButtonsName = "BootButtons.plist";

// A fresh copy of the built-in table (54 entries), read from the application's resource
// "BootButtons.plist"; empty, and logged, when the resource cannot be read.
BootButtonTable defaultBootButtons();

// The 52 keys the editor shows, in row order: "a", "a⇣", "b", "b⇣" ... "z", "z⇣".
const std::vector<std::string>& bootButtonRowKeys();

// The folder of the tables in `userFolder`.
std::filesystem::path bootButtonsFolder(const std::filesystem::path& userFolder);

// A table name that may be joined to the folder: relative, not empty, without "..".
bool isSafeBootButtonName(std::string_view name);

// Reads a table: the string entries of a dictionary (other values are skipped). None when
// the file is missing or is not a property-list dictionary.
std::optional<BootButtonTable> readBootButtonTable(const std::filesystem::path& path);

// Writes a table whole as an XML property list, atomically, creating its folders.
bool writeBootButtonTable(const std::filesystem::path& path, const BootButtonTable& table, std::string* error = nullptr);

} // namespace kelvane
