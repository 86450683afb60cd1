#pragma once
// What can stand in the place of a settings file ("config.plist", "silence.plist",
// "PunctuationMapping.plist") of the per-user folder when a program starts, for the
// tests that run both programs over it.
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Foundation/Plist.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace taviro::test {

enum class SettingsFilePlace {
    folder,       // a folder holding one file, "inside", that holds "kept"
    danglingLink, // a link to a file that does not exist
    linkToOurs,   // a link to a file of this user's, kept in a dotfiles folder
};

struct SettingsFilePlaceCase {
    const char* name;
    const char* file;
    SettingsFilePlace place;
};

inline const std::vector<SettingsFilePlaceCase>& settingsFilePlaceCases() {
    static const std::vector<SettingsFilePlaceCase> cases{
        {"a folder for silence.plist", "silence.plist", SettingsFilePlace::folder},
        {"a folder for PunctuationMapping.plist", "PunctuationMapping.plist", SettingsFilePlace::folder},
        {"a folder for config.plist", "config.plist", SettingsFilePlace::folder},
        {"a dangling link for config.plist", "config.plist", SettingsFilePlace::danglingLink},
        {"config.plist linked to a dotfiles folder", "config.plist", SettingsFilePlace::linkToOurs},
        {"silence.plist linked to a dotfiles folder", "silence.plist", SettingsFilePlace::linkToOurs},
    };
    return cases;
}

// Puts what `how` says at `place`, in an existing folder; a link leads to `target`,
// which a link to a file of ours finds holding `linked`.
inline void plantSettingsFilePlace(const std::filesystem::path& place, SettingsFilePlace how,
                                   const std::filesystem::path& target = {},
                                   const plat::PlistValue::Dictionary& linked = {}) {
    namespace fs = std::filesystem;
    switch (how) {
    case SettingsFilePlace::folder:
        fs::create_directory(place);
        ASSERT_TRUE(plat::writeFileAtomically(place / "inside", "kept"));
        break;
    case SettingsFilePlace::danglingLink: fs::create_symlink(target, place); break;
    case SettingsFilePlace::linkToOurs:
        fs::create_directories(target.parent_path());
        ASSERT_TRUE(plat::writePlistFile(target, plat::PlistValue(linked)));
        fs::create_symlink(target, place);
        break;
    }
}

// How many "<name>.damaged-<time>" entries `folder` holds.
inline std::size_t setAsideCount(const std::filesystem::path& folder, const std::string& name) {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        n += entry.path().filename().string().starts_with(name + ".damaged-");
    return n;
}

// What is left of a message in Latin letters once `names` are taken out of it: nothing
// when it says everything else in Chinese.
inline std::string latinLeftIn(std::string message, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        for (auto at = message.find(name); at != std::string::npos; at = message.find(name)) message.erase(at, name.size());
    std::string out;
    for (char ch : message)
        if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) out += ch;
    return out;
}

} // namespace taviro::test
