#pragma once
#include "Platform/InputMethodKit/InputController.h"
#include "Platform/InputMethodKit/KeyEvent.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace plat {

class TextInputClient;

// One physical key going down or up, as a host reports it. `flags` are the
// modifier flags after the change (so a shift press carries shift).
struct KeyTransition {
    std::uint16_t keyCode = 0;
    bool pressed = true;
    std::uint64_t flags = 0;
    std::optional<std::string> characters;
};

// The input-method server: named by its connection, it keeps one input
// controller per client, activates and deactivates them as focus moves and
// turns the host's key transitions into key events. Main thread only.
class InputMethodServer {
public:
    using ControllerFactory =
        std::function<std::unique_ptr<InputController>(InputMethodServer&, TextInputClient*)>;

    InputMethodServer(std::string connectionName, std::string bundleIdentifier,
                      ControllerFactory factory);
    ~InputMethodServer();
    InputMethodServer(const InputMethodServer&) = delete;
    InputMethodServer& operator=(const InputMethodServer&) = delete;

    const std::string& connectionName() const { return connectionName_; }
    const std::string& bundleIdentifier() const { return bundleIdentifier_; }

    // The client's controller, created on first use.
    InputController& controllerFor(TextInputClient& client);
    // The controller of the focused client, or null.
    InputController* activeController() const;
    TextInputClient* activeClient() const { return active_; }

    // Focus moved to the client: the previous client's controller is
    // deactivated, this one's activated.
    void focusIn(TextInputClient& client);
    // The client lost focus: its controller is deactivated.
    void focusOut(TextInputClient& client);
    // The client is gone: deactivated when focused, then its controller freed.
    void removeClient(TextInputClient& client);

    // A key transition for the client. A modifier key becomes one
    // flags-changed event; other releases are not handled (false); presses
    // become key-down events. True when the controller consumed the event.
    bool handleKey(TextInputClient& client, const KeyTransition& key);
    // A ready-made event (key-up events are not handled).
    bool handleEvent(TextInputClient& client, const KeyEvent& event);

private:
    std::string connectionName_;
    std::string bundleIdentifier_;
    ControllerFactory factory_;
    std::map<TextInputClient*, std::unique_ptr<InputController>> controllers_;
    TextInputClient* active_ = nullptr;
};

} // namespace plat
