#pragma once
#include "Platform/Notifications/RecordingCommandChannel.h"
#include "Settings/NotificationSender.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kelvane::test {

// Installs a recording command channel for the test's lifetime.
class RecordingChannelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        channel_ = std::make_shared<plat::RecordingCommandChannel>();
        previous_ = NotificationSender::setChannel(channel_);
    }
    void TearDown() override { NotificationSender::setChannel(previous_); }

    std::vector<std::string> posted() const { return channel_->log(); }

    std::shared_ptr<plat::RecordingCommandChannel> channel_;
    std::shared_ptr<plat::CommandChannel> previous_;
};

inline const std::vector<std::string> kFullBracket = {"okToUse=false", "closeDatabase", "needsReloadDBLink",
                                                      "okToUse=true"};
inline const std::vector<std::string> kOkToUseBracket = {"okToUse=false", "okToUse=true"};

} // namespace kelvane::test
