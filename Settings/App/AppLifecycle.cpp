#include "Settings/App/AppLifecycle.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Notifications/CommandChannelNames.h"
#include "Platform/Notifications/DBusCommandChannel.h"
#include "Settings/CommandBracket.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"

namespace kelvane {

plat::ReplaceJournal::Recovery prepareStart(const TableLocations& where) {
    const auto recovery = plat::recoverAtStart(
        where.perUserFolder, where.userFolder, [] {
            NotificationSender::okToUse(false);
            NotificationSender::post(plat::command::kCloseDatabase);
        });
    if (recovery == plat::ReplaceJournal::Recovery::Finished) {
        NotificationSender::post(plat::command::kNeedReloadPlan);
        NotificationSender::post(plat::command::kNeedsReloadDBLink);
        NotificationSender::post(plat::command::kConfigNeedsReload);
        NotificationSender::okToUse(true);
    }
    return recovery;
}

std::string saveSettingsBeforeExit(ConfigManager& config, std::chrono::milliseconds lockWait) {
    if (config.saveBeforeExit(lockWait)) return {};
    return config.takeSaveFailureMessage();
}

std::string exitAlertText(const ConfigManager& config, const std::string& unsaved) {
    if (config.hasPendingChanges()) return unsaved;
    return "设置已保存：退出时未能写入的改动，已在稍后重试时写入。";
}

int finishBeforeExit(std::chrono::milliseconds grace) {
    int closed = 0;
    if (!CommandBracket::waitUntilAllClosed(grace)) {
        closed = CommandBracket::closeAllOpen();
        plat::log("Kelvane: a job was still running at exit; the input method was told to reopen its databases");
    }
    auto channel = NotificationSender::setChannel(nullptr);
    if (auto* dbus = dynamic_cast<plat::DBusCommandChannel*>(channel.get())) dbus->flush(std::chrono::seconds(2));
    NotificationSender::setChannel(channel);
    return closed;
}

} // namespace kelvane
