#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// What the input method asks of the desktop besides the client: synthetic
// key presses, the pasteboard, opening addresses and named sounds. Main
// thread only.
class SystemServices {
public:
    virtual ~SystemServices() = default;

    // One press (down and up) of a virtual key, without modifier flags.
    virtual void postKeyPress(std::uint16_t keyCode) = 0;
    // The pasteboard's text, if it holds text.
    virtual std::optional<std::string> pasteboardString() = 0;
    // Opens an address with the desktop's handler; false when nothing opened.
    virtual bool openURL(const std::string& url) = 0;
    // Plays a named system sound; an unknown name is skipped.
    virtual void playSound(const std::string& name) = 0;

    // The services of the process: a desktop host sets its own; without one
    // every call is logged and does nothing.
    static SystemServices& shared();
    // Null restores the logging default. The caller keeps ownership.
    static void setShared(SystemServices* services);
};

// Services for tests and the console: every call is recorded; key presses
// go to onKeyPress when set.
class RecordingSystemServices : public SystemServices {
public:
    void postKeyPress(std::uint16_t keyCode) override;
    std::optional<std::string> pasteboardString() override;
    bool openURL(const std::string& url) override;
    void playSound(const std::string& name) override;

    std::function<void(std::uint16_t)> onKeyPress;
    std::optional<std::string> pasteboard;

    // "key:123", "open:https://...", "sound:Frog", in call order.
    std::vector<std::string> calls() const;
    std::vector<std::uint16_t> keyPresses() const;
    void clear();

private:
    mutable std::mutex m_;
    std::vector<std::string> calls_;
    std::vector<std::uint16_t> keys_;
};

} // namespace plat
