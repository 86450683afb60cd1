#include "Settings/App/SettingsController.h"

#include "Settings/ConfigManager.h"
#include "Settings/DatabaseFile.h"

namespace kelvane {

std::optional<int> settingsTabIndex(std::string_view identifier) {
    for (size_t i = 0; i < kSettingsTabs.size(); ++i)
        if (kSettingsTabs[i].identifier == identifier) return static_cast<int>(i);
    return std::nullopt;
}

SettingsController::SettingsController(ConfigManager& config) : config_(config) {}

double SettingsController::codeTableTabHeight(const ConfigManager& config) {
    if (!config.quanPin && config.disableDatabase) return 253;
    if (config.codeTableName != kNoMainCodeTable && !config.disableDatabase) return 440;
    return config.quanPin ? 172 : 253;
}

std::optional<Size> SettingsController::contentSizeForTab(std::string_view identifier) const {
    if (identifier == "general") return Size{550, 478};
    if (identifier == "codetable") return Size{530, codeTableTabHeight(config_)};
    if (identifier == "advance") return Size{500, 390};
    if (identifier == "qvcloud") return Size{600, 390};
    if (identifier == "backups") return Size{450, 300};
    return std::nullopt;
}

void SettingsController::windowDidLoad(SettingsWindowView* view) {
    view_ = view;
    config_.setNoticeListener([this] { showSettingsNotices(); });
    DatabaseFile::setSetAsideListener([this] { showSettingsNotices(); });
    resizeTo(Size{550, 478});
    plat::TouchBarHost::shared().setWindowTouchBar(kWindowIdentifier, makeTouchBar());
    showSettingsNotices();
}

plat::TouchBar SettingsController::makeTouchBar() {
    plat::TouchBar bar{kWindowIdentifier, {}};
    for (const auto& id : touchBarItemIdentifiers())
        bar.items.push_back(plat::TouchBarItem{id, plat::TouchBarItem::Kind::button, touchBarTitle(id)});
    return bar;
}

void SettingsController::windowWillClose() {
    view_ = nullptr;
    config_.setNoticeListener(nullptr);
    DatabaseFile::setSetAsideListener(nullptr);
}

void SettingsController::refreshSettings() {
    config_.loadConfig();
    showSettingsNotices();
}

void SettingsController::showSettingsNotices() {
    if (!view_) return;
    if (const std::string message = config_.takeSetAsideMessage(); !message.empty()) view_->showNotice(message);
    if (const std::string message = config_.takeSaveFailureMessage(); !message.empty()) view_->showNotice(message);
    if (const std::string message = DatabaseFile::takeSetAsideMessage(); !message.empty())
        view_->showNotice("词库文件已移开：" + message);
}

void SettingsController::selectTabViewItemAtIndex(int index) {
    if (index < 0 || index >= static_cast<int>(kSettingsTabs.size())) return;
    selected_ = index;
    if (view_) view_->showTab(index);
    resizeWindowForTab(index);
}

void SettingsController::didSelectTabViewItem(int index) {
    if (index < 0 || index >= static_cast<int>(kSettingsTabs.size())) return;
    selected_ = index;
    resizeWindowForTab(index);
}

void SettingsController::resizeWindowForTab(int index) {
    if (!view_ || index < 0 || index >= static_cast<int>(kSettingsTabs.size())) return;
    if (auto size = contentSizeForTab(kSettingsTabs[static_cast<size_t>(index)].identifier)) resizeTo(*size);
}

void SettingsController::resizeContent(Size content) {
    if (view_) resizeTo(content);
}

void SettingsController::resizeTo(Size content) {
    const double height = content.height + kTitleBarHeight;
    frame_ = Rect{frame_.x, frame_.y + frame_.height - height, content.width, height};
    content_ = content;
    if (view_) view_->setContentSize(content);
}

bool SettingsController::openSubPage(std::string_view route) {
    if (!view_) return false;
    selectTabViewItemAtIndex(kSystemTabIndex);
    if (!view_->hasSubPage(route)) return false;
    view_->openSubPage(route);
    return true;
}

bool SettingsController::openSubPageIfRegistered(std::string_view route) {
    if (!view_ || !view_->hasSubPage(route)) return false;
    return openSubPage(route);
}

std::vector<std::string> SettingsController::touchBarItemIdentifiers() {
    std::vector<std::string> ids;
    for (const auto& tab : kSettingsTabs) ids.emplace_back(tab.touchBarIdentifier);
    return ids;
}

std::string SettingsController::touchBarTitle(std::string_view identifier) {
    for (const auto& tab : kSettingsTabs)
        if (tab.touchBarIdentifier == identifier) return std::string(tab.title);
    return {};
}

void SettingsController::touchBarSelectedTab(std::string_view title) {
    for (const auto& tab : kSettingsTabs)
        if (tab.title == title) {
            if (URLSchemeProcessor::keyWindow() == this) URLSchemeProcessor::selectTab(tab.command);
            else selectTabViewItemAtIndex(*tabIndexOf(tab.command));
            return;
        }
}

namespace {
SettingsController* gKeyWindow = nullptr;
}

SettingsController* URLSchemeProcessor::keyWindow() { return gKeyWindow; }
void URLSchemeProcessor::setKeyWindow(SettingsController* window) { gKeyWindow = window; }

void URLSchemeProcessor::selectTab(URLSchemeFunctions command) {
    SettingsController* window = keyWindow();
    if (!window || !window->takesCommands()) return;
    if (auto index = tabIndexOf(command)) window->selectTabViewItemAtIndex(*index);
}

void URLSchemeProcessor::openSubPage(URLSchemeFunctions command) {
    SettingsController* window = keyWindow();
    if (!window || !window->takesCommands()) return;
    if (isSubPage(command)) window->openSubPage(rawValue(command));
    else window->selectTabViewItemAtIndex(kSystemTabIndex);
}

} // namespace kelvane
