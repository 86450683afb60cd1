#include "InputMethod/App/Notices.h"

#include "Platform/Dispatch/MainQueue.h"

#include <algorithm>

namespace taviro {

void RecordingNoticeCenter::deliver(const Notice& notice) {
    std::lock_guard lk(m_);
    delivered_.push_back(notice);
    history_.push_back(notice);
}

void RecordingNoticeCenter::removeDelivered(const Notice& notice) {
    std::lock_guard lk(m_);
    auto it = std::find(delivered_.begin(), delivered_.end(), notice);
    if (it != delivered_.end()) delivered_.erase(it);
}

void RecordingNoticeCenter::removeAllDelivered() {
    std::lock_guard lk(m_);
    delivered_.clear();
}

std::vector<Notice> RecordingNoticeCenter::delivered() const {
    std::lock_guard lk(m_);
    return delivered_;
}

std::vector<Notice> RecordingNoticeCenter::history() const {
    std::lock_guard lk(m_);
    return history_;
}

void RecordingNoticeCenter::click(std::size_t index) {
    Notice n;
    {
        std::lock_guard lk(m_);
        if (index >= delivered_.size()) return;
        n = delivered_[index];
    }
    if (onActivate_) onActivate_(n);
}

NoticeCenterUserNotice::NoticeCenterUserNotice(NoticeCenter& center, plat::MainQueue* queue)
    : center_(std::make_shared<NoticeCenter*>(&center)), queue_(queue) {}

void NoticeCenterUserNotice::detach() { *center_ = nullptr; }

void NoticeCenterUserNotice::post(const std::string& title, const std::string& text) {
    Notice notice{std::nullopt, title, std::nullopt, text};
    (queue_ ? *queue_ : plat::MainQueue::shared()).async([center = center_, notice] {
        if (*center) (*center)->deliver(notice);
    });
}

} // namespace taviro
