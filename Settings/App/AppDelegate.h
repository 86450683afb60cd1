#pragma once
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// The application's URL entry. "taviromac2://" URLs from the command line or handed on by
// a second start arrive here; until a settings window is up they wait, in order, and are
// carried out when it comes (windowDidLoad). Main thread only.
class AppDelegate {
public:
    // A get-URL request: the URL text, or none when the request carried no text.
    void handleGetURL(const std::optional<std::string>& text);
    // Host "tab": selects a tab; host "functions": shows the system tab and opens a
    // sub-page. Also takes the name of any sub-page registered with the window under
    // "functions". Anything else, and any URL while a sheet is open over the window,
    // is ignored silently.
    void routeURL(const std::string& url);
    // The settings window is up (URLSchemeProcessor::keyWindow()): run what waited.
    void windowDidLoad();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    const std::vector<std::string>& pendingURLs() const { return pending_; }

private:
    void carryOut(const std::string& url);
    std::vector<std::string> pending_;
};

} // namespace kelvane
