#pragma once
#include "Platform/InputMethodKit/SystemServices.h"

#include <functional>
#include <string>

namespace plat {
class IBusHost;
}

namespace taviro {

// The desktop's services for the controller: synthetic keys through the
// IBus host's forward-key, the clipboard, addresses through the desktop's
// URL handler. Sounds are not played (no sound theme is assumed).
class DesktopServices : public plat::SystemServices {
public:
    explicit DesktopServices(plat::IBusHost& host) : host_(host) {}
    void postKeyPress(std::uint16_t keyCode) override;
    std::optional<std::string> pasteboardString() override;
    bool openURL(const std::string& url) override;
    void playSound(const std::string&) override {}

private:
    plat::IBusHost& host_;
};

// Opens an address with the desktop's default handler.
bool openWithDesktop(const std::string& url);
// Whether some program handles the URL scheme.
bool hasSchemeHandler(const std::string& scheme);
// Starts a program detached; false when it could not start.
bool launchProgram(const std::string& path);

} // namespace taviro
