#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace taviro {

// The read-only tables of the bundle, each read once per file and shared.
// A missing file, or one that is not a dictionary of the expected types,
// gives an empty table (entries of the wrong type are left out).
class BundleTables {
public:
    using Py2hz = std::unordered_map<std::string, std::string>;           // syllable -> characters
    using Emoji = std::unordered_map<std::string, std::vector<std::string>>; // pinyin key -> emoji
    using Frequencies = std::unordered_map<std::string, double>;           // syllable -> frequency

    static std::shared_ptr<const Py2hz> py2hz(const std::filesystem::path& resourceDir);
    static std::shared_ptr<const Emoji> emoji(const std::filesystem::path& resourceDir);
    // Null when "pyfreq.plist" is missing or unreadable.
    static std::shared_ptr<const Frequencies> pinyinFrequencies(const std::filesystem::path& resourceDir);
};

} // namespace taviro
