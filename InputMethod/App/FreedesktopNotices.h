#pragma once
#include "InputMethod/App/Notices.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace taviro {

// Notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Calls never wait for
// the service; a click (the default action) comes back through the executor.
class FreedesktopNoticeCenter : public NoticeCenter {
public:
    using Executor = std::function<void(std::function<void()>)>;

    // None when there is no session bus.
    static std::unique_ptr<FreedesktopNoticeCenter> create(Executor executor);
    ~FreedesktopNoticeCenter() override;

    void deliver(const Notice& notice) override;
    void removeDelivered(const Notice& notice) override;
    void removeAllDelivered() override;
    std::vector<Notice> delivered() const override;

    struct Impl;

private:
    explicit FreedesktopNoticeCenter(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

} // namespace taviro
