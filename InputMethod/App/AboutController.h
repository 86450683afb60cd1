#pragma once
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace plat {
class MainQueue;
}

namespace taviro {

class Updater;

// The About window's content: the version label, the update-interval pop-up
// and the community alert. A view draws it and forwards the user's choices.
// Main thread only.
class AboutController {
public:
    // Seconds passed to the updater for each pop-up item.
    static constexpr std::array<double, 4> kIntervals = {86400, 604800, 2592000, 0};
    static const std::vector<std::string>& popupItems();
    static constexpr const char* kGroupNumber = "705316984";

    struct Alert {
        std::string messageText;
        std::string informativeText;
        std::vector<std::string> buttons;  // answers 1000, 1001, ... in this order
    };

    // `queue` runs the background check; the shared main queue when null.
    AboutController(Updater* updater, std::string shortVersion, std::string buildVersion,
                    plat::MainQueue* queue = nullptr);

    void viewDidLoad();
    // The pop-up chose an item.
    void updateFreq(int index);
    // The community button: the alert to show as a sheet.
    Alert goToWeb() const;
    // The answer to the alert: the address to open (the window then closes),
    // none for "取消".
    std::optional<std::string> alertResponse(int code);

    const std::string& versionLabel() const { return versionLabel_; }
    int selectedIndex() const { return selectedIndex_; }
    bool windowClosed() const { return closed_; }

    // The window's background: black when dark, else white.
    static bool blackBackground(bool dark) { return dark; }

private:
    Updater* updater_;
    std::string shortVersion_, build_;
    plat::MainQueue* queue_;
    std::string versionLabel_;
    int selectedIndex_ = 0;  // as the window is laid out
    bool closed_ = false;
};

} // namespace taviro
