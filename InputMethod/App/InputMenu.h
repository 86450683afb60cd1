#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace taviro {

class ConfigManager;
class Updater;
struct Settings;

// One entry of the input menu.
struct MenuItem {
    std::string title;
    std::string action;  // "settings:", "s2t:", ...; empty for a separator
    std::string keyEquivalent;
    std::uint64_t modifierMask = 0;
    bool separator = false;
    bool operator==(const MenuItem&) const = default;
};

struct InputMenu {
    std::string title;
    std::vector<MenuItem> items;
};

// The menu of the current settings; built anew on every request.
InputMenu buildInputMenu(const Settings& settings);

// What the menu's actions need of the desktop.
struct MenuEnvironment {
    ConfigManager* config = nullptr;  // required
    Updater* updater = nullptr;       // none: "检查更新" does nothing
    std::function<void()> openAbout;
    // Starts the preferences application; false when it could not start.
    std::function<bool()> launchPreferences;
    // Whether some program handles the "taviromac2" scheme.
    std::function<bool()> hasSchemeHandler;
    std::function<bool(const std::string& url)> openURL;
};

// The actions of the menu items. Main thread only.
class InputMenuActions {
public:
    explicit InputMenuActions(MenuEnvironment environment) : env_(std::move(environment)) {}

    // Runs the action of an item ("s2t:" and so on); false for an unknown one.
    bool perform(const std::string& action);

    void settings();
    void toCustom();
    void perferfence();
    void s2t();
    void switchRevealCode();
    void switchRevealAssist();
    void checkUpdate();
    void about();

private:
    void toggle(bool Settings::*field);
    MenuEnvironment env_;
};

} // namespace taviro
