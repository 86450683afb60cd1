#include "Settings/ui/QtMainQueueDriver.h"

#include "Platform/Dispatch/MainQueue.h"

#include <QMetaObject>

#include <chrono>

namespace kelvane::ui {

QtMainQueueDriver::QtMainQueueDriver(plat::MainQueue& queue) : queue_(queue) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { run(); });
    queue_.bindMainThread();
    queue_.setDriver(this);
}

QtMainQueueDriver::~QtMainQueueDriver() { queue_.setDriver(nullptr); }

void QtMainQueueDriver::wake() {
    if (wakePending_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] { run(); }, Qt::QueuedConnection);
}

void QtMainQueueDriver::scheduleAt(Clock::time_point t) {
    QMetaObject::invokeMethod(
        this,
        [this, t] {
            const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
            timer_.start(static_cast<int>(std::max<long long>(0, delay)));
        },
        Qt::QueuedConnection);
}

void QtMainQueueDriver::run() {
    wakePending_ = false;
    queue_.runPending();
    if (auto next = queue_.nextDeadline()) {
        const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
        timer_.start(static_cast<int>(std::max<long long>(0, delay)));
    }
}

} // namespace kelvane::ui
