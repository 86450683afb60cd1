#include "InputMethod/App/InputMenu.h"

#include "InputMethod/App/Updater.h"
#include "InputMethod/Core/ConfigManager.h"
#include "InputMethod/Core/Settings.h"

namespace taviro {
namespace {
constexpr const char* kNoCodeTable = "不使用主码表";
constexpr const char* kNoAssist = "不使用辅码";
std::string onOff(bool on) { return on ? "开" : "关"; }
MenuItem separator() { return MenuItem{"", "", "", 0, true}; }
} // namespace

InputMenu buildInputMenu(const Settings& s) {
    InputMenu menu{"塔维输入法 2", {}};
    auto& items = menu.items;
    items.push_back({"Kelvane...", "settings:", "", 0, false});
    items.push_back({"自定义编码...", "toCustom:", "=", 0x20000 | 0x100000, false});
    items.push_back(separator());
    items.push_back({"输简出繁：" + onOff(s.s2t), "s2t:", "", 0, false});
    if (s.codeTableName != kNoCodeTable)
        items.push_back({"编码反查：" + onOff(s.revealCode), "switchRevealCode:", "", 0, false});
    if (s.assistPlanName != kNoAssist)
        items.push_back({"辅码提示：" + onOff(s.revealAssist), "switchRevealAssist:", "", 0, false});
    items.push_back(separator());
    items.push_back({"检查更新", "checkUpdate:", "", 0, false});
    items.push_back({"关于...", "about:", "", 0, false});
    return menu;
}

bool InputMenuActions::perform(const std::string& action) {
    if (action == "settings:") settings();
    else if (action == "toCustom:") toCustom();
    else if (action == "perferfence:") perferfence();
    else if (action == "s2t:") s2t();
    else if (action == "switchRevealCode:") switchRevealCode();
    else if (action == "switchRevealAssist:") switchRevealAssist();
    else if (action == "checkUpdate:") checkUpdate();
    else if (action == "about:") about();
    else return false;
    return true;
}

void InputMenuActions::settings() {
    // A launch failure has no visible effect.
    if (env_.launchPreferences) (void)env_.launchPreferences();
}

void InputMenuActions::toCustom() {
    if (!env_.hasSchemeHandler || !env_.hasSchemeHandler()) {
        settings();
        return;
    }
    if (env_.openURL) (void)env_.openURL("taviromac2://functions/customCodetable");
}

void InputMenuActions::perferfence() {
    if (env_.openURL) (void)env_.openURL("taviromac2://tab/one");
}

void InputMenuActions::toggle(bool Settings::*field) {
    env_.config->update([field](Settings& s) { s.*field = !(s.*field); });
    env_.config->saveConfig();
}

void InputMenuActions::s2t() { toggle(&Settings::s2t); }
void InputMenuActions::switchRevealCode() { toggle(&Settings::revealCode); }
void InputMenuActions::switchRevealAssist() { toggle(&Settings::revealAssist); }

void InputMenuActions::checkUpdate() {
    if (env_.updater) env_.updater->checkForUpdates();
}

void InputMenuActions::about() {
    if (env_.openAbout) env_.openAbout();
}

} // namespace taviro
