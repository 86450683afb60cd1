#pragma once
#include "InputMethod/App/Notices.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace taviro {

// Notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Calls never wait for
// the service; a click (the default action) comes back through the executor,
// and so does a notice the service did not take (the undelivered handler).
//
// The service's ids of the notices still shown are kept in `recordFile` (in
// the runtime folder, which lives as long as the session bus), so that the
// next run can remove them (removeAllDelivered), but only while the same
// service process holds the name.
class FreedesktopNoticeCenter : public NoticeCenter {
public:
    using Executor = std::function<void(std::function<void()>)>;

    // None when there is no session bus. An empty `recordFile` keeps no record.
    static std::unique_ptr<FreedesktopNoticeCenter> create(Executor executor,
                                                           std::filesystem::path recordFile = defaultRecordFile());
    // "$XDG_RUNTIME_DIR/TaviroMac2-notices.plist"; empty without a runtime folder.
    static std::filesystem::path defaultRecordFile();
    ~FreedesktopNoticeCenter() override;

    void deliver(const Notice& notice) override;
    // At exit, when nothing will run the executor any more: hands the notice to
    // the service and waits for its answer, at most `timeout`. True when the
    // service took it.
    bool deliverNow(const Notice& notice, std::chrono::milliseconds timeout);
    void removeDelivered(const Notice& notice) override;
    // This run's notices, and those an earlier run left in the record.
    void removeAllDelivered() override;
    std::vector<Notice> delivered() const override;

    struct Impl;

private:
    explicit FreedesktopNoticeCenter(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

} // namespace taviro
