#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "InputMethod/Core/Database/UserNotice.h"

namespace plat {
class MainQueue;
}

namespace taviro {

// A user notice: identifier (absent for notices nobody acts on), title,
// subtitle and informative text.
struct Notice {
    std::optional<std::string> identifier;
    std::string title;
    std::optional<std::string> subtitle;
    std::string informativeText;
    bool operator==(const Notice&) const = default;
};

// The notices of the process: delivered, clicked, removed. Clicks arrive on
// the main queue through the activation handler.
class NoticeCenter {
public:
    using ActivationHandler = std::function<void(const Notice&)>;
    virtual ~NoticeCenter() = default;

    virtual void deliver(const Notice& notice) = 0;
    // Removes one delivered notice (matched by identifier and title).
    virtual void removeDelivered(const Notice& notice) = 0;
    virtual void removeAllDelivered() = 0;
    virtual std::vector<Notice> delivered() const = 0;
    void setActivationHandler(ActivationHandler handler) { onActivate_ = std::move(handler); }
    // Receives, on the main queue, a notice that no notification service took
    // (none runs): the application shows it another way.
    void setUndeliveredHandler(ActivationHandler handler) { onUndelivered_ = std::move(handler); }

protected:
    ActivationHandler onActivate_;
    ActivationHandler onUndelivered_;
};

// Where no notification service can be reached at all: every notice goes
// straight to the undelivered handler.
class UnservedNoticeCenter : public NoticeCenter {
public:
    void deliver(const Notice& notice) override {
        if (onUndelivered_) onUndelivered_(notice);
    }
    void removeDelivered(const Notice&) override {}
    void removeAllDelivered() override {}
    std::vector<Notice> delivered() const override { return {}; }
};

// Notices kept in memory, for tests: click() acts as the user would.
class RecordingNoticeCenter : public NoticeCenter {
public:
    void deliver(const Notice& notice) override;
    void removeDelivered(const Notice& notice) override;
    void removeAllDelivered() override;
    std::vector<Notice> delivered() const override;
    // The user clicks the n-th delivered notice.
    void click(std::size_t index);
    // Every notice ever delivered, in order.
    std::vector<Notice> history() const;

private:
    mutable std::mutex m_;
    std::vector<Notice> delivered_;
    std::vector<Notice> history_;
};

// The store's messages for the user (a damaged user dictionary, words lost
// to a locked one) as notices, delivered on the main queue.
class NoticeCenterUserNotice : public UserNotice {
public:
    explicit NoticeCenterUserNotice(NoticeCenter& center, plat::MainQueue* queue = nullptr);
    // Main thread: messages not yet delivered are dropped from now on.
    void detach();
    void post(const std::string& title, const std::string& text) override;

private:
    std::shared_ptr<NoticeCenter*> center_;  // read and cleared on the main thread only
    plat::MainQueue* queue_;
};

} // namespace taviro
