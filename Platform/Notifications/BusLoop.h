#pragma once
#include <functional>
#include <memory>
#include <string>

namespace sdbus {
class IConnection;
}

namespace plat {

// Serves one sdbus connection's messages on a thread of its own, as
// enterEventLoopAsync does, except that a connection that breaks (the bus
// daemon gone at the end of a session) ends the loop quietly: `lost` is called
// once, on that thread, with what the bus library said, and no exception
// leaves the thread. The destructor stops the loop and joins the thread; the
// connection must outlive this object.
class BusLoop {
public:
    using Lost = std::function<void(const std::string& why)>;

    BusLoop(sdbus::IConnection& connection, Lost lost = nullptr);
    ~BusLoop();
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace plat
