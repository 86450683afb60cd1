#pragma once
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ProgressSink.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvane {

class ConfigManager;

// The double-pinyin page: the scheme pop-up, assist codes on or off, the assist table
// and its three options, and the quick switch for ";" as an extra code character.
class ShuangPinPage {
public:
    static constexpr const char* kNoAssist = "不使用辅码";
    static const std::string kQuickExtraHelp;

    ShuangPinPage(ConfigManager& config, TableLocations where);

    // Puts the built-in schemes and assist tables into the user folder (once).
    void install();
    // The page is shown: both lists are read again and the controls follow the settings.
    void willAppear();

    // Scheme titles under "KeyMaps" (key-hint "_rev" files left out) and assist-table
    // titles under "AssistCodes", as paths relative to the folder, sorted.
    static std::vector<std::string> scanSchemes(const std::filesystem::path& userFolder);
    static std::vector<std::string> scanAssistTables(const std::filesystem::path& userFolder);

    const std::vector<std::string>& schemes() const { return schemes_; }
    const std::vector<std::string>& assistTables() const { return assistTables_; }
    int selectedScheme() const;
    int selectedAssistTable() const { return assistSelection_; }
    bool assistOn() const { return assistOn_; }
    bool revealAssist() const;
    bool moveBack() const;
    bool wordFirst() const;
    // On when ";" is an extra code character or the scheme in use types it.
    bool quickExtra() const;
    // The scheme in use ("spScheme.plist") types ";": the input method takes it as a
    // code key whatever the switch says, so the switch shows on and cannot be changed.
    bool quickExtraByScheme() const { return schemeCodeKeys_.find(';') != std::string::npos; }
    std::filesystem::path schemeFolder() const { return where_.userFolder / "KeyMaps"; }

    // Puts the chosen scheme in place; false (nothing changed) when it could not be.
    bool selectScheme(const std::string& title);
    // On: the assist controls are enabled and no table is selected until one is picked.
    // Off: assist codes are turned off in the settings and the input method is told.
    void setAssistOn(bool on);
    // Rebuilds "assist.database" from the chosen table; after a failure the page shows the
    // table still in use. `done` runs on the main queue with the result.
    void selectAssistTable(const std::string& title, std::shared_ptr<ProgressSink> sink,
                           std::function<void(bool)> done);
    void setRevealAssist(bool on);
    void setMoveBack(bool on);
    void setWordFirst(bool on);
    void setQuickExtra(bool on);

private:
    // The assist box and pop-up follow the stored assist table.
    void showAssistSetting();
    // Reads the keys besides the letters that the scheme in use types.
    void readSchemeCodeKeys();

    ConfigManager& config_;
    TableLocations where_;
    std::vector<std::string> schemes_;
    std::vector<std::string> assistTables_;
    bool assistOn_ = false;
    int assistSelection_ = -1;
    std::string schemeCodeKeys_;
    // Lets a completion that outlives the page see that it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kelvane
