#pragma once
#include <memory>
#include <string>
#include <vector>

namespace plat {

// One item of a Touch Bar as a host shows it.
struct TouchBarItem {
    enum class Kind { button, scrubber, fixedSpaceLarge };
    std::string identifier;
    Kind kind = Kind::button;
    std::string title; // buttons only
    bool operator==(const TouchBarItem&) const = default;
};

// A Touch Bar: its items in order.
struct TouchBar {
    std::string identifier;
    std::vector<TouchBarItem> items;
    bool operator==(const TouchBar&) const = default;
};

// Red, green, blue and alpha, 0...1.
struct TouchBarColor {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const TouchBarColor&) const = default;
};

// One text item of a scrubber.
struct ScrubberItem {
    std::string title;
    double width = 0;
    double height = 0;
    TouchBarColor background;
    bool operator==(const ScrubberItem&) const = default;
};

// The machine's Touch Bar, as the programs use it: present a bar
// system-wide next to a Control Strip item, give a window its own bar, and
// refresh the text items of a scrubber. Taps come back through the callers'
// own handlers (the host calls them). Main thread only.
class TouchBarHost {
public:
    virtual ~TouchBarHost() = default;

    // Whether a Touch Bar exists on this machine.
    virtual bool exists() const = 0;

    // Puts the item of `identifier` into the Control Strip (or takes it out).
    virtual void setControlStripPresence(const std::string& identifier, bool present) = 0;
    // Shows `bar` system-modally, with `trayItemIdentifier` as its tray item.
    virtual void presentSystemModal(const TouchBar& bar, const std::string& trayItemIdentifier) = 0;
    // Minimises a bar presented system-modally.
    virtual void minimizeSystemModal(const TouchBar& bar) = 0;
    // The bar shown while the window `windowIdentifier` has the focus; an
    // empty bar removes it.
    virtual void setWindowTouchBar(const std::string& windowIdentifier, const TouchBar& bar) = 0;
    // A button's new title.
    virtual void setButtonTitle(const std::string& itemIdentifier, const std::string& title) = 0;
    // Replaces the text items of the scrubber `itemIdentifier`.
    virtual void reloadScrubber(const std::string& itemIdentifier, const std::vector<ScrubberItem>& items) = 0;
    // The background of one item of a scrubber.
    virtual void setScrubberItemBackground(const std::string& itemIdentifier, int index,
                                           const TouchBarColor& color) = 0;

    // The host of this process: a null host unless one was installed.
    static TouchBarHost& shared();
    // Installs the process's host (none: the null host again). Not owned.
    static void setShared(TouchBarHost* host);
};

// For machines without a Touch Bar (every Linux machine): does nothing and
// says so once per process, at the first call.
class NullTouchBarHost : public TouchBarHost {
public:
    bool exists() const override { return false; }
    void setControlStripPresence(const std::string& identifier, bool present) override;
    void presentSystemModal(const TouchBar& bar, const std::string& trayItemIdentifier) override;
    void minimizeSystemModal(const TouchBar& bar) override;
    void setWindowTouchBar(const std::string& windowIdentifier, const TouchBar& bar) override;
    void setButtonTitle(const std::string& itemIdentifier, const std::string& title) override;
    void reloadScrubber(const std::string& itemIdentifier, const std::vector<ScrubberItem>& items) override;
    void setScrubberItemBackground(const std::string& itemIdentifier, int index,
                                   const TouchBarColor& color) override;

    // The line logged once.
    static constexpr const char* kMessage = "Touch Bar: this machine has none; its items are not shown";

private:
    static void noteOnce();
};

// For tests: keeps what was asked, as lines ("present:<bar>:<tray>",
// "minimize:<bar>", "controlStrip:<id>:1", "window:<id>:<bar>",
// "title:<id>:<title>", "reload:<id>:<n>", "background:<id>:<index>") and
// the last state of every scrubber and bar.
class RecordingTouchBarHost : public TouchBarHost {
public:
    bool exists() const override { return true; }
    void setControlStripPresence(const std::string& identifier, bool present) override;
    void presentSystemModal(const TouchBar& bar, const std::string& trayItemIdentifier) override;
    void minimizeSystemModal(const TouchBar& bar) override;
    void setWindowTouchBar(const std::string& windowIdentifier, const TouchBar& bar) override;
    void setButtonTitle(const std::string& itemIdentifier, const std::string& title) override;
    void reloadScrubber(const std::string& itemIdentifier, const std::vector<ScrubberItem>& items) override;
    void setScrubberItemBackground(const std::string& itemIdentifier, int index,
                                   const TouchBarColor& color) override;

    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    // The last items given to a scrubber (empty when never reloaded).
    std::vector<ScrubberItem> scrubber(const std::string& itemIdentifier) const;
    // The last bar presented system-modally; whether it is presented now.
    const TouchBar& presentedBar() const { return presented_; }
    bool isPresented() const { return isPresented_; }
    TouchBar windowBar(const std::string& windowIdentifier) const;

private:
    struct Scrubber {
        std::string identifier;
        std::vector<ScrubberItem> items;
    };
    Scrubber& scrubberFor(const std::string& identifier);

    std::vector<std::string> calls_;
    std::vector<Scrubber> scrubbers_;
    std::vector<std::pair<std::string, TouchBar>> windowBars_;
    TouchBar presented_;
    bool isPresented_ = false;
};

} // namespace plat
