#pragma once
#include "ImportTestSupport.h"
#include "RecordingChannelFixture.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/ConfigManager.h"
#include "support/TestHome.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace kelvane::test {

// Temporary per-user, user and resource folders with both database templates, the
// settings of that per-user folder and a recording command channel.
class TablePageFixture : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        const std::filesystem::path root = taviro::test::freshDir("tablepage");
        where_ = {root / "TaviroMac", root / "塔维输入法", root / "resources"};
        std::filesystem::create_directories(where_.resourceFolder);
        std::filesystem::create_directories(where_.userFolder);
        makeMainTemplate(where_.resourceFolder / "codetable.database");
        makeAssistTemplate(where_.resourceFolder / "assist.database");
        config_ = std::make_unique<ConfigManager>(where_.perUserFolder);
    }

    using Done = std::function<void(bool)>;
    // Starts a rebuild on the main queue and serves the queue until it has reported once.
    static bool runRebuild(const std::function<void(Done)>& start) {
        plat::RunLoopDriver driver(plat::MainQueue::shared());
        int calls = 0;
        bool ok = false;
        plat::MainQueue::shared().async([&] {
            start([&](bool result) {
                ++calls;
                ok = result;
            });
        });
        driver.runUntil([&] { return calls > 0; }, std::chrono::seconds(30));
        EXPECT_EQ(calls, 1);
        return ok;
    }

    // The settings as saved on disk.
    ConfigManager saved() const { return ConfigManager(where_.perUserFolder); }

    TableLocations where_;
    std::unique_ptr<ConfigManager> config_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

} // namespace kelvane::test
