#pragma once
#include "Settings/Editors/BootButtonTable.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class ConfigManager;

// The guide-button editor: a pop-up of the tables in "BootButtons/" (the active one,
// "BootButtonName", selected) and the chosen table as 52 rows, two per letter. Each ended
// cell edit writes the whole table at once; choosing another table saves the settings
// store, which announces the change to the input method.
class BootButtonsController {
public:
    enum Column { identifier = 0, content = 1 };
    static constexpr const char* kHelpURL = "https://taviromac2.quorvel.com/book/bootbuttons";

    BootButtonsController(ConfigManager& config, std::filesystem::path userFolder);
    explicit BootButtonsController(ConfigManager& config);

    // Creates the folder (with its parents), lists its tables and loads the active one.
    void viewDidLoad();

    // The names found under the folder, after "BootButtons.plist": relative paths ending
    // in ".plist", sorted.
    const std::vector<std::string>& configFileList() const { return configFileList_; }
    // The pop-up's titles: each name once, where it was last listed.
    const std::vector<std::string>& configTitles() const { return configTitles_; }
    std::optional<int> selectedTitle() const { return selectedTitle_; }
    // False when "config.plist" could not be read: the choice could not be kept.
    bool configListEnabled() const { return configListEnabled_; }

    const std::string& configName() const { return configName_; }
    std::filesystem::path tablePath() const;
    const BootButtonTable& shortCutInputDic() const { return shortCutInputDic_; }

    static int numberOfRows() { return 52; }
    std::string cellText(int row, int column) const;
    static bool isEditable(int column) { return column == content; }

    // The user picked a title (none: nothing selected). Refused, doing nothing, when
    // there is none, when it is not a safe name or when the pop-up is disabled.
    void changeList(const std::optional<std::string>& title);
    // An ended edit of the cell at (row, column). Only content cells of existing rows are
    // taken. False when the table could not be written (the edit stays in memory).
    bool commitEdit(std::optional<int> row, int column, const std::string& text);

    // Resolves the active name from "config.plist" and loads its table (the default
    // table when its file is missing).
    void reloadBootButtons();
    // Writes the whole table under configName(). A file that exists but could not be
    // read as a table is not overwritten.
    bool saveBootButtons();

    // The last write failure, for the page to show.
    const std::string& lastError() const { return lastError_; }

private:
    void listTables();

    ConfigManager& config_;
    std::filesystem::path userFolder_;
    std::vector<std::string> configFileList_{std::string(kDefaultBootButtonsName)};
    std::vector<std::string> configTitles_;
    std::optional<int> selectedTitle_;
    bool configListEnabled_ = true;
    std::string configName_{kDefaultBootButtonsName};
    BootButtonTable shortCutInputDic_;
    bool unreadableFile_ = false;
    std::string lastError_;
};

} // namespace kelvane
