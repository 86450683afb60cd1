#pragma once
#include "Platform/Notifications/CommandChannel.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace plat {

// Posts commands as the D-Bus signal of CommandChannelNames.h. One connection, owned by
// one sender thread, is fed by one FIFO, so commands keep their post order across all
// posting threads. post only queues. Without a bus (no session bus, daemon gone) the
// channel behaves as if nobody were listening: commands are dropped, a line is logged
// once, and a connection is tried again at most once a second.
class DBusCommandChannel : public CommandChannel {
public:
    // address: a D-Bus address such as "unix:path=..."; none means the session bus.
    explicit DBusCommandChannel(std::optional<std::string> address = std::nullopt);
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

    // Most commands that may wait in the queue; later ones are dropped.
    static constexpr std::size_t kMaxQueued = 10000;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace plat
