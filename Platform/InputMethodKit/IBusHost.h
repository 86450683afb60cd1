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

// One page of candidates for the desktop's own candidate panel (IBus's lookup
// table): what the panel shows at the caret when our window cannot.
struct HostLookupTable {
    std::vector<std::string> candidates;
    // One label per candidate ("1", "2", ...); empty: the panel's own.
    std::vector<std::string> labels;
    int cursor = 0;
    bool vertical = false;
};

// The desktop host: an IBus engine that gives every input context a client of
// its own and passes its focus, keys, caret and surrounding text to the
// input-method server; marked text becomes the preedit, inserted text a
// commit that first hides the preedit (PreeditClient). Lives on the GLib
// main loop (the main thread); one per process.
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
        // The panel's lookup table: a candidate of the page was clicked
        // (index within the page), or a page button pressed.
        std::function<void(int index)> candidateClicked;
        std::function<void()> pageUp;
        std::function<void()> pageDown;
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

    // Shows one page of candidates in the desktop's panel at the focused
    // client's caret, or hides it; nothing when nothing has focus.
    void showLookupTable(const HostLookupTable& table);
    void hideLookupTable();

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
