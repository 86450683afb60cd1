#pragma once
// The preferences application's settings store and the input method's controller (over a
// scripted client) on one per-user folder, with the command channel recorded.
#include "../../InputMethod/Controller/ControllerFixture.h"
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Settings/ConfigManager.h"
#include "Settings/NotificationSender.h"

#include <memory>
#include <string>
#include <vector>

namespace kelvane::test {

class EditorTest : public taviro::test::ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        channel_ = std::make_shared<plat::RecordingCommandChannel>();
        previous_ = NotificationSender::setChannel(channel_);
        store = std::make_unique<kelvane::ConfigManager>(perUser);
    }
    void TearDown() override {
        ControllerTest::TearDown();
        NotificationSender::setChannel(previous_);
    }

    std::vector<std::string> posted() const { return channel_->log(); }
    std::size_t reloads() const {
        std::size_t n = 0;
        for (const auto& c : posted()) n += c == "configNeedsReload";
        return n;
    }
    // What the input method does on "configNeedsReload", then a fresh field in focus.
    void reloadInputMethod() {
        session.reset();
        config->loadConfig();
        start();
    }
    // The files as another start of the preferences application reads them.
    std::unique_ptr<kelvane::ConfigManager> reread() const { return std::make_unique<kelvane::ConfigManager>(perUser); }

    std::unique_ptr<kelvane::ConfigManager> store;
    std::shared_ptr<plat::RecordingCommandChannel> channel_;
    std::shared_ptr<plat::CommandChannel> previous_;
};

} // namespace kelvane::test
