#pragma once
#include "Platform/Dispatch/MainQueueDriver.h"

#include <QObject>
#include <QTimer>

#include <atomic>

namespace plat {
class MainQueue;
}

namespace kelvane::ui {

// Runs the main queue (plat::MainQueue) inside Qt's event loop. Create it on the GUI
// thread after the QApplication; it binds the queue to that thread, attaches on
// construction and detaches on destruction.
class QtMainQueueDriver : public QObject, public plat::MainQueueDriver {
public:
    explicit QtMainQueueDriver(plat::MainQueue& queue);
    ~QtMainQueueDriver() override;

    Clock::time_point now() const override { return Clock::now(); }
    void wake() override;
    void scheduleAt(Clock::time_point t) override;

private:
    void run();

    plat::MainQueue& queue_;
    QTimer timer_;
    std::atomic<bool> wakePending_{false};
};

} // namespace kelvane::ui
