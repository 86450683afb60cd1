#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace kelvane {

class ConfigManager;

// The settings changes that tell the running input method something beyond
// "configNeedsReload", each with its commands in the order the input method needs.
class InputMethodCommands {
public:
    // Replaces "spScheme.plist" in the per-user folder atomically by "KeyMaps/<name>.plist"
    // of the user folder, then saves "InputPlanName" and posts "needReloadPlan". A name
    // that could leave "KeyMaps", or a scheme file that cannot be copied, changes nothing
    // and posts nothing. Returns whether the scheme file was put in place.
    static bool selectDoublePinyinScheme(ConfigManager& config, const std::string& name,
                                         const std::filesystem::path& perUserFolder,
                                         const std::filesystem::path& userFolder);

    // Saves "VerticalCandidates", then posts "switchCandidatesPanel" with
    // "竖排候选栏" (vertical) or "横排候选栏".
    static void chooseCandidatePanel(ConfigManager& config, bool vertical);
    // Saves "FontSize", then posts "setFontSize" with it.
    static void chooseFontSize(ConfigManager& config, int64_t size);
    // Posts "setFontSize" with the current size, so that a new font is drawn.
    static void candidateFontChanged(const ConfigManager& config);

    // Posted at once: the input method empties its user dictionary, restores its
    // custom phrases, restores its guide buttons.
    static void resetUserDict();
    static void resetCustom();
    static void resetBootButtons();

    // Restoring a backup: "okToUse" false, "closeDatabase", writeFiles() (which returns
    // whether it copied a double-pinyin scheme: then "needReloadPlan"), the settings are
    // loaded again (changes not saved yet are given up), "needsReloadDBLink",
    // "configNeedsReload", "okToUse" true, then "switchCandidatesPanel" and "setFontSize"
    // when the restored "config.plist" holds "VerticalCandidates" as a Boolean and
    // "FontSize" as an integer. The settings are loaded on the main queue (waiting for it when called off the main thread).
    static void restoreBackup(ConfigManager& config, const std::function<bool()>& writeFiles);

    // A table file named "<name>.TXT" directly in `folder` is renamed to "<name>.txt"
    // (only the extension changes; an existing file is never overwritten). Returns the
    // name the file has afterwards. Names in subfolders are returned unchanged.
    static std::string normaliseTableFileName(const std::filesystem::path& folder, const std::string& relativeName);
};

} // namespace kelvane
