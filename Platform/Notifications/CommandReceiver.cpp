#include "Platform/Notifications/CommandReceiver.h"

#include "Platform/Notifications/BusLoop.h"
#include "Platform/Notifications/CommandChannelNames.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Log.h"

#include <sdbus-c++/sdbus-c++.h>


namespace plat {

struct CommandReceiver::Impl {
    std::unique_ptr<sdbus::IConnection> connection;
    sdbus::Slot match;
    sdbus::Slot gone;
    std::unique_ptr<BusLoop> loop;
};

namespace {

// Reads a command ("sa{sv}") off the signal, entry by entry, so that an argument far
// larger than any real command is refused before it is built. None when the signal is
// refused; `why` says why.
std::optional<Command> readCommand(sdbus::Message& msg, std::string& why) {
    Command cmd;
    std::string type, contents;
    const std::string notACommand = "its arguments are not of signature sa{sv}";
    msg.peekType(type, contents);
    if (type != "s") {
        why = notACommand;
        return std::nullopt;
    }
    msg >> cmd.name;
    if (cmd.name.size() > CommandReceiver::kMaxTextBytes) {
        why = "its name has " + std::to_string(cmd.name.size()) + " bytes";
        return std::nullopt;
    }
    msg.peekType(type, contents);
    if (type != "a" || contents != "{sv}" || !msg.enterContainer("{sv}")) {
        why = notACommand;
        return std::nullopt;
    }
    for (std::size_t entries = 0; msg.enterDictEntry("sv"); ++entries) {
        if (entries == CommandReceiver::kMaxEntries) {
            why = "it has more than " + std::to_string(CommandReceiver::kMaxEntries) + " entries";
            return std::nullopt;
        }
        std::string key;
        msg >> key;
        msg.peekType(type, contents);
        if (key.size() > CommandReceiver::kMaxTextBytes) {
            why = "an entry's key has " + std::to_string(key.size()) + " bytes";
            return std::nullopt;
        }
        // One basic value per entry; a container (or a variant, which may hold one) is
        // nothing a command carries.
        if (type != "v" || contents.size() != 1 || contents == "v") {
            why = "the entry \"" + key + "\" holds a container";
            return std::nullopt;
        }
        CommandValue value = std::monostate{};
        if (contents == "b" || contents == "s" || contents == "x") {
            msg.enterVariant(contents);
            if (contents == "b") {
                bool b = false;
                msg >> b;
                value = b;
            } else if (contents == "x") {
                int64_t i = 0;
                msg >> i;
                value = i;
            } else {
                std::string text;
                msg >> text;
                if (text.size() > CommandReceiver::kMaxTextBytes) {
                    why = "the entry \"" + key + "\" has " + std::to_string(text.size()) + " bytes";
                    return std::nullopt;
                }
                value = std::move(text);
            }
            msg.exitVariant();
        } else {
            // Another basic type: read, and kept as a value of no use.
            sdbus::Variant other;
            msg >> other;
        }
        msg.exitDictEntry();
        cmd.userInfo.emplace(std::move(key), std::move(value));
    }
    msg.clearFlags();
    msg.exitContainer();
    // Nothing may follow: a body with more arguments is another signal.
    msg.peekType(type, contents);
    if (!type.empty() && type[0] != '\0') {
        why = notACommand;
        return std::nullopt;
    }
    return cmd;
}

} // namespace

std::unique_ptr<CommandReceiver> CommandReceiver::start(Handler handler, Executor executor,
                                                        std::optional<std::string> address) {
    return start([handler = std::move(handler)](const Command& c, const std::string&) { handler(c); }, nullptr,
                 std::move(executor), std::move(address));
}

std::unique_ptr<CommandReceiver> CommandReceiver::start(SenderHandler handler, GoneHandler gone,
                                                        Executor executor, std::optional<std::string> address,
                                                        LostHandler lost) {
    auto impl = std::make_unique<Impl>();
    try {
        impl->connection = address ? sdbus::createSessionBusConnectionWithAddress(*address)
                                   : sdbus::createSessionBusConnection();
        const std::string rule = std::string("type='signal',path='") + command::kObjectPath +
                                 "',interface='" + command::kInterface + "',member='" +
                                 command::kMember + "'";
        impl->match = impl->connection->addMatch(
            rule, [handler = std::move(handler), executor](sdbus::Message& msg) {
                // Nothing thrown here may reach the bus library's loop.
                try {
                    const std::string sender = msg.getSender();
                    std::optional<Command> cmd;
                    std::string why;
                    try {
                        cmd = readCommand(msg, why);
                    } catch (const std::exception&) {
                        why = "it cannot be read as sa{sv}";
                    }
                    if (!cmd) {
                        plat::log("command channel: refused a command from " + sender + " (" + why + ")");
                        return;
                    }
                    auto valid = validateCommand(std::move(*cmd));
                    if (!valid) return;
                    executor([handler, c = std::move(*valid), s = sender] { handler(c, s); });
                } catch (const std::exception& e) {
                    plat::log(std::string("command channel: a signal was dropped (") + e.what() + ")");
                }
            });
        if (gone) {
            // A unique name whose new owner is empty: that connection is gone.
            const std::string goneRule =
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg2=''";
            impl->gone = impl->connection->addMatch(
                goneRule, [gone = std::move(gone), executor](sdbus::Message& msg) {
                    try {
                        std::string name, oldOwner, newOwner;
                        msg >> name >> oldOwner >> newOwner;
                        if (name.empty() || name[0] != ':' || !newOwner.empty()) return;
                        executor([gone, name] { gone(name); });
                    } catch (const std::exception&) {
                    }
                });
        }
        impl->loop = std::make_unique<BusLoop>(*impl->connection, [lost = std::move(lost), executor](const std::string& why) {
            plat::log("command channel: the session bus is gone (" + why + ")");
            if (lost) executor(lost);
        });
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
    impl_->loop.reset();
    impl_->match.reset();
    impl_->gone.reset();
}

} // namespace plat
