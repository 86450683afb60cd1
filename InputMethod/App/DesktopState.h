#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace taviro {

// What the desktop says about its appearance and its screen reader, read
// from the session bus (the freedesktop appearance setting through the
// settings portal; the accessibility bus's status) and kept current by their
// change signals. Feeds isDarkAppearance and isVoiceOverOn.
class DesktopState {
public:
    // Starts reading in the background; never blocks the caller.
    static std::unique_ptr<DesktopState> start();
    ~DesktopState();

    // "Dark" when the desktop prefers a dark appearance.
    std::optional<std::string> interfaceStyle() const;
    bool screenReaderEnabled() const;

    // The appearance setting's "color-scheme": 1 prefers dark, 0 and 2 do not.
    static std::optional<std::string> interfaceStyleFromColorScheme(std::uint32_t scheme);

    struct Impl;

private:
    explicit DesktopState(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

} // namespace taviro
