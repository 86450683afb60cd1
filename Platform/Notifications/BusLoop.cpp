#include "Platform/Notifications/BusLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <thread>

namespace plat {

struct BusLoop::State {
    State(sdbus::IConnection& c, Lost l) : connection(c), lost(std::move(l)) {}
    sdbus::IConnection& connection;
    Lost lost;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

BusLoop::BusLoop(sdbus::IConnection& connection, Lost lost)
    : state_(std::make_shared<State>(connection, std::move(lost))) {
    state_->thread = std::thread([s = state_.get()] {
        std::string why;
        try {
            s->connection.enterEventLoop();
            return;
        } catch (const std::exception& e) {
            why = e.what();
        } catch (...) {
            why = "unknown error";
        }
        if (s->stopping || !s->lost) return;
        try {
            s->lost(why);
        } catch (...) {
        }
    });
}

BusLoop::~BusLoop() {
    state_->stopping = true;
    try {
        state_->connection.leaveEventLoop();
    } catch (...) {
    }
    if (state_->thread.joinable()) state_->thread.join();
}

} // namespace plat
