#include "Platform/Notifications/DBusCommandChannel.h"

#include "Platform/Notifications/CommandChannelNames.h"

#include "Platform/Foundation/Log.h"

#include <sdbus-c++/sdbus-c++.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace plat {

struct DBusCommandChannel::State {
    std::optional<std::string> address;
    Transport transport;  // replaces the D-Bus signal when set
    std::mutex m;
    std::condition_variable wake;      // sender thread: work or stop
    std::condition_variable progress;  // flushers and the destructor
    std::deque<Command> queue;
    uint64_t posted = 0;     // commands accepted into the queue
    uint64_t handled = 0;    // commands sent or dropped by the sender thread
    std::size_t dropped = 0;
    std::size_t droppedInOutage = 0;  // by the sender thread since the bus was last reached
    bool stop = false;
    bool finished = false;
    bool loggedFailure = false;

    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IObject> object;
    std::chrono::steady_clock::time_point nextAttempt{};

    bool connect();
    bool send(const Command& command);
    void run();
};

bool DBusCommandChannel::State::connect() {
    if (object) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextAttempt) return false;
    try {
        connection = address ? sdbus::createSessionBusConnectionWithAddress(*address)
                             : sdbus::createSessionBusConnection();
        object = sdbus::createObject(*connection, command::kObjectPath);
        loggedFailure = false;
        return true;
    } catch (const std::exception& e) {
        object.reset();
        connection.reset();
        nextAttempt = now + std::chrono::seconds(1);
        if (!loggedFailure) {
            plat::log(std::string("command channel: no session bus, commands are dropped (") + e.what() + ")");
            loggedFailure = true;
        }
        return false;
    }
}

bool DBusCommandChannel::State::send(const Command& cmd) {
    if (transport) return transport(cmd);
    if (!connect()) return false;
    std::map<std::string, sdbus::Variant> info;
    for (const auto& [key, value] : cmd.userInfo) {
        if (auto b = std::get_if<bool>(&value)) info.emplace(key, sdbus::Variant(*b));
        else if (auto s = std::get_if<std::string>(&value)) info.emplace(key, sdbus::Variant(*s));
        else if (auto i = std::get_if<int64_t>(&value)) info.emplace(key, sdbus::Variant(*i));
    }
    try {
        object->emitSignal(command::kMember).onInterface(command::kInterface).withArguments(cmd.name, info);
        // Push out anything the socket did not take at once.
        while (connection->processPendingRequest()) {
        }
        return true;
    } catch (const std::exception& e) {
        plat::log("command channel: sending \"" + cmd.name + "\" failed (" + e.what() + ")");
        object.reset();
        connection.reset();
        return false;
    }
}

void DBusCommandChannel::State::run() {
    std::unique_lock lk(m);
    for (;;) {
        wake.wait(lk, [&] { return stop || !queue.empty(); });
        if (queue.empty()) break;  // stopping and drained
        Command cmd = std::move(queue.front());
        queue.pop_front();
        lk.unlock();
        const bool hadConnection = object != nullptr;
        bool sent = send(cmd);
        // A connection that broke under this send: once more on a fresh one.
        if (!sent && hadConnection && !object) sent = send(cmd);
        if (sent && droppedInOutage > 0) {
            plat::log("command channel: the bus is back; " + std::to_string(droppedInOutage) +
                      " command(s) were dropped without it");
            droppedInOutage = 0;
        } else if (!sent && droppedInOutage++ == 0) {
            plat::log("command channel: \"" + cmd.name + "\" dropped, no bus to send it on");
        }
        lk.lock();
        if (!sent) ++dropped;
        ++handled;
        progress.notify_all();
    }
    object.reset();
    connection.reset();
    finished = true;
    progress.notify_all();
}

DBusCommandChannel::DBusCommandChannel(std::optional<std::string> address)
    : state_(std::make_shared<State>()) {
    state_->address = std::move(address);
    std::thread([s = state_] { s->run(); }).detach();
}

DBusCommandChannel::DBusCommandChannel(Transport transport) : state_(std::make_shared<State>()) {
    state_->transport = std::move(transport);
    std::thread([s = state_] { s->run(); }).detach();
}

DBusCommandChannel::~DBusCommandChannel() {
    std::unique_lock lk(state_->m);
    state_->stop = true;
    state_->wake.notify_all();
    // The thread owns a reference to the state, so giving up the wait is safe.
    if (!state_->progress.wait_for(lk, std::chrono::seconds(2), [&] { return state_->finished; }))
        plat::log("command channel: closing with " + std::to_string(state_->queue.size()) +
                  " command(s) not sent yet; they go out if the sender gets through");
}

bool DBusCommandChannel::closesBracket(const Command& command) {
    if (command.name == command::kNeedsReloadDBLink) return true;
    return command.name == command::kOkToUse && command.boolValue(command::kOkToUseKey) == true;
}

void DBusCommandChannel::post(const Command& command) {
    std::unique_lock lk(state_->m);
    if (state_->stop) {
        plat::log("command channel: \"" + command.name + "\" posted after the channel closed; dropped");
        return;
    }
    if (state_->queue.size() >= kMaxQueued && !closesBracket(command) &&
        !state_->progress.wait_for(lk, kFullQueueWait, [&] { return state_->queue.size() < kMaxQueued; })) {
        ++state_->dropped;
        plat::log("command channel: " + std::to_string(state_->queue.size()) + " commands wait; \"" +
                  command.name + "\" dropped");
        return;
    }
    state_->queue.push_back(command);
    ++state_->posted;
    state_->wake.notify_one();
}

bool DBusCommandChannel::flush(std::chrono::milliseconds timeout) {
    std::unique_lock lk(state_->m);
    const uint64_t target = state_->posted;
    return state_->progress.wait_for(lk, timeout, [&] { return state_->handled >= target; });
}

std::size_t DBusCommandChannel::droppedCount() const {
    std::lock_guard lk(state_->m);
    return state_->dropped;
}

} // namespace plat
