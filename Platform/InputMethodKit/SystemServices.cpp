#include "Platform/InputMethodKit/SystemServices.h"

#include "Platform/Foundation/Log.h"

#include <atomic>

namespace plat {
namespace {

class LoggingSystemServices : public SystemServices {
public:
    void postKeyPress(std::uint16_t keyCode) override {
        log("no desktop host: key press " + std::to_string(keyCode) + " dropped");
    }
    std::optional<std::string> pasteboardString() override { return std::nullopt; }
    bool openURL(const std::string&) override {
        log("no desktop host: address not opened");
        return false;
    }
    void playSound(const std::string&) override {}
};

LoggingSystemServices& loggingServices() {
    static LoggingSystemServices services;
    return services;
}

std::atomic<SystemServices*> current{nullptr};

} // namespace

SystemServices& SystemServices::shared() {
    SystemServices* s = current.load();
    return s ? *s : loggingServices();
}

void SystemServices::setShared(SystemServices* services) { current.store(services); }

void RecordingSystemServices::postKeyPress(std::uint16_t keyCode) {
    {
        std::lock_guard lock(m_);
        calls_.push_back("key:" + std::to_string(keyCode));
        keys_.push_back(keyCode);
    }
    if (onKeyPress) onKeyPress(keyCode);
}

std::optional<std::string> RecordingSystemServices::pasteboardString() {
    std::lock_guard lock(m_);
    calls_.push_back("pasteboard");
    return pasteboard;
}

bool RecordingSystemServices::openURL(const std::string& url) {
    std::lock_guard lock(m_);
    calls_.push_back("open:" + url);
    return true;
}

void RecordingSystemServices::playSound(const std::string& name) {
    std::lock_guard lock(m_);
    calls_.push_back("sound:" + name);
}

std::vector<std::string> RecordingSystemServices::calls() const {
    std::lock_guard lock(m_);
    return calls_;
}

std::vector<std::uint16_t> RecordingSystemServices::keyPresses() const {
    std::lock_guard lock(m_);
    return keys_;
}

void RecordingSystemServices::clear() {
    std::lock_guard lock(m_);
    calls_.clear();
    keys_.clear();
}

} // namespace plat
