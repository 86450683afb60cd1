#include "Settings/Pages/Tab2Controller.h"

#include "Settings/App/SettingsController.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"

namespace kelvane {

Tab2Controller::Tab2Controller(ConfigManager& config, SettingsController* window) : config_(config), window_(window) {}

int Tab2Controller::initialPage(const ConfigManager& config) {
    const bool mainTable = config.codeTableName != kNoMainCodeTable;
    if (mainTable && config.disableDatabase) return codeTablesAlone;
    if (mainTable) return combined;
    return config.quanPin ? fullPinyin : doublePinyin;
}

int Tab2Controller::viewDidLoad() {
    selected_ = initialPage(config_);
    loaded_ = true;
    return selected_;
}

double Tab2Controller::contentHeight(int index) const {
    return index == combined ? 440 : SettingsController::codeTableTabHeight(config_);
}

void Tab2Controller::didSelectPage(int index) {
    if (!loaded_) return;
    selected_ = index;
    auto set = [this](auto field, auto value) {
        config_.*field = value;
        config_.save();
    };
    switch (index) {
    case fullPinyin:
    case doublePinyin:
        set(&ConfigManager::quanPin, index == fullPinyin);
        set(&ConfigManager::disableDatabase, false);
        set(&ConfigManager::codeTableName, std::string(kNoMainCodeTable));
        set(&ConfigManager::fourCode, int64_t{0});
        set(&ConfigManager::codeTableVersion, int64_t{-1});
        set(&ConfigManager::revealCode, false);
        set(&ConfigManager::emptySlide, false);
        set(&ConfigManager::spaceClean, false);
        if (index == fullPinyin) {
            set(&ConfigManager::assistPlanName, std::string(kNoAssistTable));
            set(&ConfigManager::assistCodePlan, int64_t{-1});
            set(&ConfigManager::revealAssist, false);
        }
        break;
    case codeTablesAlone:
        set(&ConfigManager::disableDatabase, true);
        set(&ConfigManager::quanPin, false);
        set(&ConfigManager::assistPlanName, std::string(kNoAssistTable));
        set(&ConfigManager::assistCodePlan, int64_t{-1});
        set(&ConfigManager::revealAssist, false);
        break;
    case combined: set(&ConfigManager::disableDatabase, false); break;
    default: break;
    }
    NotificationSender::post(plat::command::kNeedsReloadDBLink);
    if (window_) window_->resizeContent(Size{530, contentHeight(index)});
}

} // namespace kelvane
