#pragma once
#include "ImportTestSupport.h"
#include "Platform/Cloud/FolderStore.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/FileUtil.h"
#include "Platform/Dispatch/RunLoopDriver.h"
#include "RecordingChannelFixture.h"
#include "Settings/Cloud/CloudStore.h"
#include "Settings/Cloud/QvRecord.h"
#include "Settings/CodeTable/CodeTableChooser.h"
#include "Settings/Pages/PbarController.h"
#include "support/TestHome.h"

#include <chrono>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace kelvane::test {

// A sheet that shows a failure and waits for its Done button.
inline bool failed(const std::shared_ptr<PbarController>& sheet) {
    return sheet && sheet->doneEnabled() && !sheet->dismissed();
}

// Every entry below `root` with its content (files) or "/" (folders).
inline std::map<std::string, std::string> snapshotOf(const std::filesystem::path& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        out[std::filesystem::relative(it->path(), root).string()] =
            it->is_regular_file(ec) ? plat::readWholeFile(it->path()).value_or("?") : "/";
    return out;
}

// The whole process acts as another account (of one group) while this lives: its
// threads too. Needs root.
class AsAccount {
public:
    AsAccount(uid_t uid, gid_t gid) {
        ok_ = ::setgroups(1, &gid) == 0 && ::setegid(gid) == 0 && ::seteuid(uid) == 0;
    }
    ~AsAccount() {
        const gid_t root = 0;
        if (::seteuid(0) != 0 || ::setegid(0) != 0 || ::setgroups(1, &root) != 0) std::abort();
    }
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// Folders of one user in a temporary place, a folder store every account of the test
// shares, and a main queue served by the test thread.
class CloudPageFixture : public RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        isModerator().store(false);
        base_ = taviro::test::freshDir("cloud");
        where_ = {base_ / "TaviroMac", base_ / "塔维输入法", base_ / "resources"};
        std::filesystem::create_directories(where_.perUserFolder);
        std::filesystem::create_directories(where_.userFolder);
        std::filesystem::create_directories(where_.resourceFolder);
        makeMainTemplate(where_.resourceFolder / "codetable.database");
        makeAssistTemplate(where_.resourceFolder / "assist.database");
        store_ = base_ / "store";
        driver_ = std::make_unique<plat::RunLoopDriver>(plat::MainQueue::shared());
    }
    void TearDown() override {
        pump([] { return !plat::MainQueue::shared().hasPendingBlocks(); });
        driver_.reset();
        isModerator().store(false);
        RecordingChannelFixture::TearDown();
    }

    std::shared_ptr<plat::cloud::Container> account(const std::string& name) {
        return makeCloudContainer({store_, name, {}}, moderators_);
    }

    // Serves the main queue until pred() holds (at most 20 s).
    bool pump(const std::function<bool()>& pred) {
        return driver_->runUntil(pred, std::chrono::seconds(20));
    }

    std::filesystem::path base_, store_;
    TableLocations where_;
    std::set<std::string> moderators_{plat::cloud::userRecordNameForAccount("moderator")};
    std::unique_ptr<plat::RunLoopDriver> driver_;
};

} // namespace kelvane::test
