#pragma once
#include "InputMethod/CommandHandler.h"

#include <filesystem>
#include <string>
#include <vector>

namespace taviro::test {

// Records the steps the commands take, in order.
class RecordingTargets : public CommandTargets {
public:
    std::vector<std::string> log;

    void setEngineReady(bool ready) override { log.push_back(ready ? "ready" : "notReady"); }
    void reloadDBLink() override { log.push_back("reload"); }
    void closeAll() override { log.push_back("closeAll"); }
    void cleanCache() override { log.push_back("cleanCache"); }
    void postNeedReloadPlan() override {}
    bool removeFile(const FileBeneath&) override { return false; }
    bool copyBundledCustomDatabase() override { return true; }
    void setBootButtonName(const std::string&) override {}
    void saveConfig() override {}
    void loadConfig() override {}
    void reloadInputDelegate() override {}
    void switchCandidatesPanel(bool vertical) override { log.push_back(vertical ? "vertical" : "horizontal"); }
    void setFontSize(FontSize) override {}
    FileBeneath customDBPath() const override { return {"/p", "custom.db"}; }
    FileBeneath userDBPath() const override { return {"/p", "user.db"}; }
    FileBeneath defaultBootButtonsPath() const override { return {"/u", "BootButtons/BootButtons.plist"}; }
};

} // namespace taviro::test
