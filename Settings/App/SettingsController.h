#pragma once
#include "Platform/TouchBar/TouchBarHost.h"
#include "Settings/App/URLScheme.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class ConfigManager;

// Points; a rectangle's origin is its lower-left corner, y grows upwards.
struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};
struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// One tab of the settings window, in tab-view order.
struct SettingsTab {
    std::string_view identifier;        // tab item identifier
    std::string_view touchBarIdentifier; // "one" ... "five"
    std::string_view title;             // tab and Touch Bar button title
    URLSchemeFunctions command;
};
inline constexpr std::array<SettingsTab, 5> kSettingsTabs = {{
    {"general", "one", "偏好", URLSchemeFunctions::one},
    {"codetable", "two", "码表与方案", URLSchemeFunctions::two},
    {"advance", "three", "系统", URLSchemeFunctions::three},
    {"qvcloud", "four", "栾舟云", URLSchemeFunctions::four},
    {"backups", "five", "备份恢复", URLSchemeFunctions::five},
}};
inline constexpr int kSystemTabIndex = 2;

// The index of the tab with this identifier, or none.
std::optional<int> settingsTabIndex(std::string_view identifier);

// What the settings window's presenter asks of the window that draws it.
class SettingsWindowView {
public:
    virtual ~SettingsWindowView() = default;
    // Brings the tab at `index` to the front without calling back.
    virtual void showTab(int index) = 0;
    // Gives the window this content size; the top-left corner stays where it is and the
    // page is shown only at its final size.
    virtual void setContentSize(Size size) = 0;
    // True when a sub-page or editor is registered under `route`.
    virtual bool hasSubPage(std::string_view route) const = 0;
    // Opens the page registered under `route` over the system tab.
    virtual void openSubPage(std::string_view route) = 0;
    // True while a sheet (a sub-page, an alert, a progress or file dialog) is open
    // over the window: the sheet, not the window, takes commands then.
    virtual bool sheetOpen() const { return false; }
    // Tells the user something once, in an alert over the window ("注意" and `message`).
    virtual void showNotice(std::string_view message) { (void)message; }
};

// Presenter of the settings window and its tab controller: the tabs, their content
// sizes, the window frame, tab selection by click, URL command and Touch Bar button.
class SettingsController {
public:
    explicit SettingsController(ConfigManager& config);

    // The code-table tab's height for the current settings: 440 with a main code table
    // in use, else 172 for full pinyin and 253 for double pinyin.
    static double codeTableTabHeight(const ConfigManager& config);
    // The content size of the tab with this identifier, read from the settings now.
    std::optional<Size> contentSizeForTab(std::string_view identifier) const;

    // The window is up: it takes the general tab's size (550 × 478), top edge fixed.
    void windowDidLoad(SettingsWindowView* view);
    // The window went away; nothing is drawn any more.
    void windowWillClose();
    bool hasWindow() const { return view_ != nullptr; }
    // The window is up and no sheet covers it: URL commands and Touch Bar buttons
    // act on it only then.
    bool takesCommands() const { return view_ && !view_->sheetOpen(); }

    // The window came to the front, or a page is about to be shown: the settings are
    // read again from the files, so that the page shows what the input method stored
    // meanwhile.
    void refreshSettings();
    // Shows, once, what reading the settings found wrong (a damaged "config.plist"
    // set aside) and a save that could not be written for a while, when the window is
    // up; the latter also when it arises while the window is up.
    void showSettingsNotices();

    // Selects a tab by position (URL commands, Touch Bar) and resizes to it.
    void selectTabViewItemAtIndex(int index);
    // The user picked the tab in the window: resize to it.
    void didSelectTabViewItem(int index);
    // Resizes the window to the tab; an unknown tab leaves the window as it is.
    void resizeWindowForTab(int index);

    // Gives the window a content size of the current tab's choosing (the input-mode tab's
    // inner pages); top edge fixed.
    void resizeContent(Size content);

    // Shows the system tab, then opens the sub-page `route` when one is registered.
    // Returns whether a page was opened.
    bool openSubPage(std::string_view route);
    // The same for a route that is not one of the URL commands: nothing at all (not even
    // the system tab) unless a page is registered under it.
    bool openSubPageIfRegistered(std::string_view route);

    // Touch Bar: default item identifiers "one" ... "five", the button title of an
    // item ("" for an unknown one), and the action of a button by its title.
    static std::vector<std::string> touchBarItemIdentifiers();
    // The window's bar (one button per tab), given to the Touch Bar host when the window
    // loads; "settings" names the window to the host.
    static plat::TouchBar makeTouchBar();
    static constexpr const char* kWindowIdentifier = "settings";
    static std::string touchBarTitle(std::string_view identifier);
    void touchBarSelectedTab(std::string_view title);

    int selectedIndex() const { return selected_; }
    Size contentSize() const { return content_; }
    // The window frame: content plus title bar, top edge kept across resizes.
    Rect frame() const { return frame_; }
    static constexpr double kTitleBarHeight = 28;

    ConfigManager& config() { return config_; }

private:
    void resizeTo(Size content);

    ConfigManager& config_;
    SettingsWindowView* view_ = nullptr;
    int selected_ = 0;
    Size content_{550, 478};
    Rect frame_{200, 200, 550, 478 + kTitleBarHeight};
};

// Carries URL commands out on the settings window that is up (the "key window").
class URLSchemeProcessor {
public:
    // Tab commands select their tab; other commands change nothing.
    static void selectTab(URLSchemeFunctions command);
    // Shows the system tab, then opens the sub-page of a sub-page command.
    static void openSubPage(URLSchemeFunctions command);

    // The window commands act on; nullptr when none is up.
    static SettingsController* keyWindow();
    static void setKeyWindow(SettingsController* window);
};

} // namespace kelvane
