#pragma once
#include "Platform/Notifications/CommandChannel.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace plat {

// Posts commands as the D-Bus signal of CommandChannelNames.h. One connection, owned by
// one sender thread, is fed by one FIFO, so commands keep their post order across all
// posting threads. post only queues. Without a bus (no session bus, daemon gone) the
// channel behaves as if nobody were listening: commands are dropped and logged (the
// first of an outage by name, the count when the bus is back), and a connection is
// tried again at most once a second. A send that fails on a broken connection is tried
// once more on a fresh one.
//
// No command is dropped silently: when kMaxQueued commands wait, post waits a moment for
// room and then drops the command with a log line; a command that closes a bracket
// ("needsReloadDBLink", "okToUse" true) is always queued, so the input method is never
// left closed or not ready.
class DBusCommandChannel : public CommandChannel {
public:
    // Sends one command; true when it went out. The D-Bus signal unless a test puts
    // another in.
    using Transport = std::function<bool(const Command&)>;

    // address: a D-Bus address such as "unix:path=..."; none means the session bus.
    explicit DBusCommandChannel(std::optional<std::string> address = std::nullopt);
    explicit DBusCommandChannel(Transport transport);
    // Sends what is still queued, waiting at most about two seconds.
    ~DBusCommandChannel() override;
    DBusCommandChannel(const DBusCommandChannel&) = delete;
    DBusCommandChannel& operator=(const DBusCommandChannel&) = delete;

    void post(const Command& command) override;

    // Waits until every command posted before the call has been sent or dropped.
    // False when the timeout passed first.
    bool flush(std::chrono::milliseconds timeout);

    // Commands that could not be sent (no bus, or the queue was full).
    std::size_t droppedCount() const;

    // True for the commands that end a bracket around a database change.
    static bool closesBracket(const Command& command);

    // Most commands that may wait in the queue; beyond it only bracket closers are taken.
    static constexpr std::size_t kMaxQueued = 10000;
    // How long post waits for room in a full queue before it drops a command.
    static constexpr std::chrono::milliseconds kFullQueueWait{250};

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace plat
