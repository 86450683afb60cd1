#pragma once
#include "Platform/Notifications/CommandChannel.h"
#include "Platform/Notifications/CommandChannelNames.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kelvane {

// The one name under which every command is posted.
inline constexpr const char* notificationNameInputMethod = plat::command::kNotificationName;

// Posts commands to the running input method. Stateless apart from the channel, which is
// the D-Bus channel unless a test installs another. Callable from any thread; commands
// of one thread arrive in post order.
class NotificationSender {
public:
    // "okToUse" with {"okToUse": flag}.
    static void okToUse(bool flag);
    // "switchCandidatesPanel" with {"name": name}.
    static void switchCandidatesPanel(const std::string& name);
    // "setFontSize" with {"size": size}.
    static void setFontSize(int64_t size);
    // A command without userInfo ("closeDatabase", "configNeedsReload", ...).
    static void post(const std::string& command);

    // Replaces the channel (nullptr restores the D-Bus one) and returns the old one.
    static std::shared_ptr<plat::CommandChannel> setChannel(std::shared_ptr<plat::CommandChannel> channel);

private:
    static void send(const plat::Command& command);
};

} // namespace kelvane
