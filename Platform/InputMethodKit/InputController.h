#pragma once
#include "Platform/InputMethodKit/KeyEvent.h"
#include "Platform/InputMethodKit/TextTypes.h"

#include <cstdint>

namespace plat {

class InputMethodServer;
class TextInputClient;

// The base of the per-client input controller. The server creates one for
// every client and calls it on the main thread.
class InputController {
public:
    // Event mask of key down, key up and flags changed.
    static constexpr std::uint64_t kKeyEventMask = 0x1c00;
    // Highlight style of converted text.
    static constexpr int kConvertedTextStyle = 4;

    InputController() = default;
    InputController(InputMethodServer* server, TextInputClient* client)
        : server_(server), client_(client) {}
    virtual ~InputController() = default;
    InputController(const InputController&) = delete;
    InputController& operator=(const InputController&) = delete;

    // True when the event was consumed, false to pass it to the client.
    virtual bool handleEvent(const KeyEvent& /*event*/, TextInputClient* /*client*/) { return false; }
    virtual std::uint64_t recognizedEvents(TextInputClient* /*sender*/) const { return kKeyEventMask; }

    virtual void activateServer(TextInputClient* /*sender*/) {}
    virtual void deactivateServer(TextInputClient* /*sender*/) {}

    // Finish the composition (the server calls it when the client asks).
    virtual void commitComposition(TextInputClient* /*sender*/) {}

    // Marked-text attributes for a highlight style.
    virtual TextAttributes markForStyle(int style, TextRange range) const;

    InputMethodServer* server() const { return server_; }
    // The client the server created this controller for.
    TextInputClient* client() const { return client_; }

private:
    InputMethodServer* server_ = nullptr;
    TextInputClient* client_ = nullptr;
};

} // namespace plat
