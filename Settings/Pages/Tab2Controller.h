#pragma once
#include <array>
#include <string_view>

namespace kelvane {

class ConfigManager;
class SettingsController;

// Presenter of the input-mode tab ("codetable"): its inner pages choose how the input
// method types. Picking a page rewrites the mode settings (one save per assignment),
// posts "needsReloadDBLink" and resizes the window to the page.
class Tab2Controller {
public:
    enum Page { fullPinyin = 0, doublePinyin = 1, codeTablesAlone = 2, combined = 3 };
    static constexpr std::array<std::string_view, 4> kPageTitles = {"全拼", "双拼", "纯码表", "双拼+码表"};

    // window: the settings window's presenter, or nullptr when the tab is not in one.
    Tab2Controller(ConfigManager& config, SettingsController* window);

    // The page that matches the stored settings.
    static int initialPage(const ConfigManager& config);
    // The page to show when the tab loads; from then on page changes take effect.
    int viewDidLoad();
    // The user picked inner page `index`.
    void didSelectPage(int index);
    // The content height of page `index` under the current settings.
    double contentHeight(int index) const;

    int selectedPage() const { return selected_; }

private:
    ConfigManager& config_;
    SettingsController* window_;
    bool loaded_ = false;
    int selected_ = 0;
};

} // namespace kelvane
