#pragma once
#include "Platform/InputMethodKit/TextTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {

class InputMethodServer;
class TextInputClient;

// One entry of the engine's property list (the panel's menu).
struct HostProperty {
    std::string key;
    std::string label;
    bool separator = false;
    // A key equivalent shown after the label, such as "⇧⌘=".
    std::string shortcut;
};

// The desktop host: an IBus engine that gives every input context a client of
// its own and passes its focus, keys, caret and surrounding text to the
// input-method server; marked text becomes the preedit, inserted text a
// commit. Lives on the GLib main loop (the main thread); one per process.
class IBusHost {
public:
    struct Options {
        // The engine name the user selects and the component's bus name.
        std::string engineName = "taviromac2";
        std::string componentName = "org.freedesktop.IBus.TaviroMac2";
        // Standalone: register the component with the daemon ourselves
        // (otherwise the daemon started us from its component file).
        bool standalone = false;
        // What a standalone registration tells the daemon.
        std::string longName = "TaviroMac2";
        std::string description;
        std::string version;
        std::string execPath;
        std::string iconPath;
        std::string language = "zh_CN";
        // Height of the primary screen in pixels: converts the caret (y down)
        // into screen points with y up.
        std::function<double()> primaryScreenHeight;
        // The focused client's caret moved (clients report it after the
        // preedit changed: windows at the caret follow it).
        std::function<void(TextInputClient&)> caretMoved;
        // The bus went away.
        std::function<void()> disconnected;
        // A property of the list was chosen.
        std::function<void(const std::string& key)> propertyActivated;
        // Asked before each property list is sent (the panel shows current titles).
        std::function<std::vector<HostProperty>()> properties;
    };

    IBusHost(InputMethodServer& server, Options options);
    ~IBusHost();
    IBusHost(const IBusHost&) = delete;
    IBusHost& operator=(const IBusHost&) = delete;

    // Connects to the IBus daemon and serves the engine; false (after a log
    // line) when there is no daemon or the name is taken.
    bool start();
    bool isConnected() const;

    // One press and release of a virtual key, forwarded to the focused client.
    // False when nothing has focus or the key cannot be forwarded.
    bool forwardKeyPress(std::uint16_t virtualCode);

    // Sends the property list again (after an option changed).
    void refreshProperties();

    // The focused client, or null (nothing focused, or the daemon's own
    // context for when nothing has focus).
    TextInputClient* focusedClient() const;
    // The caret of the focused client in screen points (y up), if known.
    std::optional<TextRect> caretRect() const;

    // The caret as IBus reports it (pixels, y down) in screen points with y
    // up, against a primary screen of that height.
    static TextRect toScreenPoints(int x, int y, int w, int h, double screenHeight);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
