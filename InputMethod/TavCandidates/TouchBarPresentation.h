#pragma once
#include "Platform/TouchBar/TouchBarHost.h"

#include <functional>
#include <optional>
#include <string>

namespace taviro {

class CandidateWindow;
class ConfigManager;
class TouchBarCandidateController;

// The input method's own Touch Bar: the 繁/简 button, the candidate strip and
// the product mark, presented system-wide next to the Control Strip item.
// Main thread only.
class TouchBarPresentation {
public:
    static constexpr const char* kS2tIdentifier = "com.quorvel.inputmethod.TaviroMac2.s2t";
    static constexpr const char* kCandidateIdentifier = "com.quorvel.inputmethod.TaviroMac2.candidate";
    static constexpr const char* kVoridIdentifier = "com.quorvel.inputmethod.TaviroMac2.Vorid";
    static constexpr const char* kFixedSpaceLarge = "NSTouchBarItemIdentifierFixedSpaceLarge";
    static constexpr const char* kGroupIdentifier = "com.quorvel.inputmethod.TaviroMac2.group";

    struct Environment {
        plat::TouchBarHost* host = nullptr; // the shared host when unset
        ConfigManager* config = nullptr;    // the shared configuration when unset
        TouchBarCandidateController* strip = nullptr;
        std::function<CandidateWindow*()> window;
        // Clears the engine, runs its candidate road with nothing and empties
        // the controller's current candidate text.
        std::function<void()> abandonComposition;
    };

    explicit TouchBarPresentation(Environment environment);

    // Puts the product mark into the Control Strip (at start-up).
    void start();
    // Loads the strip from the window and presents the group bar.
    void showTouchBar();
    void dismissTouchBar();
    // Toggles traditional output, saves, and retitles the tapped button.
    void s2t(const std::string& senderIdentifier);
    // Abandons the composition, closes the window, shows hints and minimises.
    void esc();
    // A new item for one of the three identifiers (exact match), else none.
    std::optional<plat::TouchBarItem> makeItemForIdentifier(const std::string& identifier) const;
    // A tap on a button item, as the host reports it.
    void buttonTapped(const std::string& identifier);
    // The group bar, built on first use.
    const plat::TouchBar& groupTouchBar();

private:
    Environment env_;
    std::optional<plat::TouchBar> groupTouchBar_;
};

} // namespace taviro
