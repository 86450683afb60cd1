#include "Platform/InputMethodKit/GLibMainQueueDriver.h"

#include <glib.h>

#include <algorithm>

namespace plat {

using Driver = GLibMainQueueDriver;

// The callbacks are members so that they reach the driver's state.
struct GLibMainQueueDriver::Source {
    GSource base;
    GLibMainQueueDriver* driver;
    static gboolean prepare(GSource* s, gint* timeout);
    static gboolean check(GSource* s);
    static gboolean dispatch(GSource* s, GSourceFunc, gpointer);
};

gboolean Driver::Source::prepare(GSource* s, gint* timeout) {
    Driver* d = reinterpret_cast<Driver::Source*>(s)->driver;
    std::lock_guard lk(d->m_);
    if (d->pending_) {
        *timeout = 0;
        return TRUE;
    }
    if (d->deadline_ == Driver::Clock::time_point::max()) {
        *timeout = -1;
        return FALSE;
    }
    const auto left = d->deadline_ - Driver::Clock::now();
    if (left <= Driver::Clock::duration::zero()) {
        *timeout = 0;
        return TRUE;
    }
    // Round up so the timer is due when the loop wakes.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    *timeout = static_cast<gint>(std::min<long long>(ms, 60'000));
    return FALSE;
}

gboolean Driver::Source::check(GSource* s) {
    Driver* d = reinterpret_cast<Driver::Source*>(s)->driver;
    std::lock_guard lk(d->m_);
    return d->pending_ || d->deadline_ <= Driver::Clock::now();
}

gboolean Driver::Source::dispatch(GSource* s, GSourceFunc, gpointer) {
    Driver* d = reinterpret_cast<Driver::Source*>(s)->driver;
    {
        std::lock_guard lk(d->m_);
        d->pending_ = false;
        d->deadline_ = Driver::Clock::time_point::max();
    }
    // The queue announces what is still waiting (wake, scheduleAt) at the end.
    d->queue_.runPending();
    return G_SOURCE_CONTINUE;
}

namespace {
GSourceFuncs kFuncs = {Driver::Source::prepare, Driver::Source::check, Driver::Source::dispatch,
                       nullptr, nullptr, nullptr};
} // namespace

GLibMainQueueDriver::GLibMainQueueDriver(MainQueue& queue) : queue_(queue) {
    source_ = reinterpret_cast<Source*>(g_source_new(&kFuncs, sizeof(Source)));
    source_->driver = this;
    g_source_set_priority(&source_->base, G_PRIORITY_DEFAULT);
    g_source_attach(&source_->base, nullptr);
    queue_.bindMainThread();
    queue_.setDriver(this);
}

GLibMainQueueDriver::~GLibMainQueueDriver() {
    queue_.setDriver(nullptr);
    g_source_destroy(&source_->base);
    g_source_unref(&source_->base);
}

void GLibMainQueueDriver::wake() {
    {
        std::lock_guard lk(m_);
        pending_ = true;
    }
    g_main_context_wakeup(nullptr);
}

void GLibMainQueueDriver::scheduleAt(Clock::time_point t) {
    {
        std::lock_guard lk(m_);
        deadline_ = t;
    }
    g_main_context_wakeup(nullptr);
}

} // namespace plat
