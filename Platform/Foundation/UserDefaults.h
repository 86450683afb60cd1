#pragma once
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Small remembered values ("EnMode") in a plist of their own, read on every
// call and written whole, atomically.
class UserDefaults {
public:
    // Kept in "UserDefaults.plist" in the per-user folder of the moment.
    static UserDefaults& shared();
    // Kept in the given file.
    explicit UserDefaults(std::optional<std::filesystem::path> file = std::nullopt);

    // False when the key is missing or not a boolean.
    bool boolForKey(std::string_view key) const;
    // Creates the folder when needed; false when the file could not be written.
    bool setBool(std::string_view key, bool value);

    std::filesystem::path filePath() const;

private:
    std::optional<std::filesystem::path> file_;
    mutable std::mutex mutex_;
};

} // namespace plat
