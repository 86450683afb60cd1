#pragma once
#include "Platform/Notifications/Command.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace plat {

// The receiving end of the command channel on the D-Bus session bus. Every signal that
// passes validateCommand is handed, in arrival order, to the executor, which runs the
// handler where the program wants it (the main queue). Signals of another signature,
// and commands that fail the check, are ignored. A command far larger than any real
// one (more than kMaxEntries entries, a name, key or text of more than kMaxTextBytes,
// an entry that holds a container) is refused with a log line before it is built.
class CommandReceiver {
public:
    static constexpr std::size_t kMaxEntries = 16;
    static constexpr std::size_t kMaxTextBytes = 1024;

    using Handler = std::function<void(const Command&)>;
    using Executor = std::function<void(std::function<void()>)>;
    // The same with the sender's unique bus name.
    using SenderHandler = std::function<void(const Command&, const std::string& sender)>;
    // A connection left the bus (its unique name).
    using GoneHandler = std::function<void(const std::string& name)>;
    // The session bus went away (its daemon ended with the session): no command
    // comes any more.
    using LostHandler = std::function<void()>;

    // Starts listening; none (after a log line) when no bus can be reached. The
    // receiver listens once this returns. address: none means the session bus.
    static std::unique_ptr<CommandReceiver> start(Handler handler, Executor executor,
                                                  std::optional<std::string> address = std::nullopt);

    // Also tells who sent each command and when a connection leaves the bus;
    // both go through the executor in the order the bus delivered them, so a
    // sender's commands always come before its departure. `lost`, also through
    // the executor, after a log line, when the bus goes away; the receiver then
    // stays quiet.
    static std::unique_ptr<CommandReceiver> start(SenderHandler handler, GoneHandler gone, Executor executor,
                                                  std::optional<std::string> address = std::nullopt,
                                                  LostHandler lost = nullptr);

    // The same, running the handler on MainQueue::shared().
    static std::unique_ptr<CommandReceiver> start(Handler handler);

    ~CommandReceiver();
    CommandReceiver(const CommandReceiver&) = delete;
    CommandReceiver& operator=(const CommandReceiver&) = delete;

private:
    struct Impl;
    explicit CommandReceiver(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
