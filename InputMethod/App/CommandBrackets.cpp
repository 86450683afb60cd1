#include "InputMethod/App/CommandBrackets.h"

#include "InputMethod/CommandHandler.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Notifications/CommandChannelNames.h"

namespace taviro {

namespace cmd = plat::command;

void CommandBrackets::commandReceived(const plat::Command& command, const std::string& sender) {
    if (sender.empty()) return;
    if (command.name == cmd::kOkToUse) {
        const auto ok = command.boolValue(cmd::kOkToUseKey);
        if (!ok) return;
        if (!*ok) {
            open_[sender].flagLowered = true;
        } else if (auto it = open_.find(sender); it != open_.end()) {
            it->second.flagLowered = false;
            if (!it->second.databasesClosed) open_.erase(it);
        }
    } else if (command.name == cmd::kCloseDatabase) {
        open_[sender].databasesClosed = true;
    } else if (command.name == cmd::kNeedsReloadDBLink) {
        if (auto it = open_.find(sender); it != open_.end()) {
            it->second.databasesClosed = false;
            if (!it->second.flagLowered) open_.erase(it);
        }
    }
}

void CommandBrackets::senderGone(const std::string& name) {
    auto it = open_.find(name);
    if (it == open_.end()) return;
    open_.erase(it);
    plat::log("commands: the preferences application left in the middle of a database change; reopening");
    targets_.reloadDBLink();
    targets_.setEngineReady(true);
}

} // namespace taviro
