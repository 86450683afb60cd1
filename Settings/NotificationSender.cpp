#include "Settings/NotificationSender.h"

#include "Platform/Notifications/DBusCommandChannel.h"

#include <mutex>

namespace kelvane {
namespace {

std::mutex& channelMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<plat::CommandChannel>& installed() {
    static std::shared_ptr<plat::CommandChannel> channel;
    return channel;
}

std::shared_ptr<plat::CommandChannel> currentChannel() {
    std::lock_guard lk(channelMutex());
    auto& channel = installed();
    if (!channel) channel = std::make_shared<plat::DBusCommandChannel>();
    return channel;
}

} // namespace

std::shared_ptr<plat::CommandChannel> NotificationSender::setChannel(std::shared_ptr<plat::CommandChannel> channel) {
    std::lock_guard lk(channelMutex());
    auto old = std::move(installed());
    installed() = std::move(channel);
    return old;
}

void NotificationSender::send(const plat::Command& command) { currentChannel()->post(command); }

void NotificationSender::okToUse(bool flag) {
    plat::Command c{plat::command::kOkToUse, {}};
    c.userInfo.emplace(plat::command::kOkToUseKey, flag);
    send(c);
}

void NotificationSender::switchCandidatesPanel(const std::string& name) {
    plat::Command c{plat::command::kSwitchCandidatesPanel, {}};
    c.userInfo.emplace(plat::command::kNameKey, name);
    send(c);
}

void NotificationSender::setFontSize(int64_t size) {
    plat::Command c{plat::command::kSetFontSize, {}};
    c.userInfo.emplace(plat::command::kSizeKey, size);
    send(c);
}

void NotificationSender::post(const std::string& command) { send(plat::Command::plain(command)); }

} // namespace kelvane
