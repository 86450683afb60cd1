#include "Platform/Notifications/CommandReceiver.h"

#include "Platform/Notifications/CommandChannelNames.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Log.h"

#include <sdbus-c++/sdbus-c++.h>


namespace plat {

struct CommandReceiver::Impl {
    std::unique_ptr<sdbus::IConnection> connection;
    sdbus::Slot match;
    sdbus::Slot gone;
};

namespace {

CommandValue toValue(const sdbus::Variant& v) {
    try {
        if (v.containsValueOfType<bool>()) return v.get<bool>();
        if (v.containsValueOfType<std::string>()) return v.get<std::string>();
        if (v.containsValueOfType<int64_t>()) return v.get<int64_t>();
    } catch (const std::exception&) {
    }
    return std::monostate{};
}

} // namespace

std::unique_ptr<CommandReceiver> CommandReceiver::start(Handler handler, Executor executor,
                                                        std::optional<std::string> address) {
    return start([handler = std::move(handler)](const Command& c, const std::string&) { handler(c); }, nullptr,
                 std::move(executor), std::move(address));
}

std::unique_ptr<CommandReceiver> CommandReceiver::start(SenderHandler handler, GoneHandler gone,
                                                        Executor executor, std::optional<std::string> address) {
    auto impl = std::make_unique<Impl>();
    try {
        impl->connection = address ? sdbus::createSessionBusConnectionWithAddress(*address)
                                   : sdbus::createSessionBusConnection();
        const std::string rule = std::string("type='signal',path='") + command::kObjectPath +
                                 "',interface='" + command::kInterface + "',member='" +
                                 command::kMember + "'";
        impl->match = impl->connection->addMatch(
            rule, [handler = std::move(handler), executor](sdbus::Message& msg) {
                // Only "sa{sv}" is a command.
                Command cmd;
                std::map<std::string, sdbus::Variant> info;
                try {
                    std::string type, contents;
                    msg.peekType(type, contents);
                    if (type != "s") return;
                    msg >> cmd.name;
                    msg.peekType(type, contents);
                    if (type != "a" || contents != "{sv}") return;
                    msg >> info;
                } catch (const std::exception&) {
                    return;
                }
                for (const auto& [key, value] : info) cmd.userInfo.emplace(key, toValue(value));
                auto valid = validateCommand(std::move(cmd));
                if (!valid) return;
                const std::string sender = msg.getSender();
                executor([handler, c = std::move(*valid), s = sender] { handler(c, s); });
            });
        if (gone) {
            // A unique name whose new owner is empty: that connection is gone.
            const std::string goneRule =
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg2=''";
            impl->gone = impl->connection->addMatch(
                goneRule, [gone = std::move(gone), executor](sdbus::Message& msg) {
                    std::string name, oldOwner, newOwner;
                    try {
                        msg >> name >> oldOwner >> newOwner;
                    } catch (const std::exception&) {
                        return;
                    }
                    if (name.empty() || name[0] != ':' || !newOwner.empty()) return;
                    executor([gone, name] { gone(name); });
                });
        }
        impl->connection->enterEventLoopAsync();
    } catch (const std::exception& e) {
        plat::log(std::string("command channel: cannot listen on the session bus (") + e.what() + ")");
        return nullptr;
    }
    return std::unique_ptr<CommandReceiver>(new CommandReceiver(std::move(impl)));
}

std::unique_ptr<CommandReceiver> CommandReceiver::start(Handler handler) {
    return start(std::move(handler), [](std::function<void()> fn) { MainQueue::shared().async(std::move(fn)); });
}

CommandReceiver::CommandReceiver(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CommandReceiver::~CommandReceiver() {
    if (!impl_ || !impl_->connection) return;
    impl_->connection->leaveEventLoop();
    impl_->match.reset();
    impl_->gone.reset();
}

} // namespace plat
