#include "Platform/Dispatch/MainQueue.h"

#include "Platform/Dispatch/RunCatching.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace plat {

namespace {
// The thread that started the process has the process's id as its thread id.
bool onProgramThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}
} // namespace

MainQueue& MainQueue::shared() {
    // Leaked on purpose: blocks may still be posted while the program exits.
    static MainQueue* queue = [] {
        auto* q = new MainQueue();
        q->mainThread_.store(std::thread::id());  // the program thread, until a driver binds one
        return q;
    }();
    return *queue;
}

MainQueue::MainQueue() : mainThread_(std::this_thread::get_id()) {}

MainQueue::~MainQueue() = default;

bool MainQueue::isMainThread() const {
    const auto bound = mainThread_.load();
    if (bound == std::thread::id()) return onProgramThread();
    return bound == std::this_thread::get_id();
}

void MainQueue::bindMainThread() {
    mainThread_.store(std::this_thread::get_id());
}

void MainQueue::setDriver(MainQueueDriver* driver) {
    std::lock_guard lk(m_);
    driver_ = driver;
    if (!driver_) return;
    if (!blocks_.empty()) driver_->wake();
    if (!timers_.empty()) driver_->scheduleAt(timers_.top().due);
}

MainQueue::Clock::time_point MainQueue::nowLocked() const {
    return driver_ ? driver_->now() : Clock::now();
}

void MainQueue::async(std::function<void()> fn) {
    if (!fn) return;
    std::lock_guard lk(m_);
    blocks_.push_back(std::move(fn));
    if (driver_) driver_->wake();
}

void MainQueue::after(Clock::duration delay, std::function<void()> fn) {
    if (!fn) return;
    auto state = std::make_shared<Timer::State>();
    state->fn = std::move(fn);
    std::lock_guard lk(m_);
    addTimer(nowLocked() + delay, std::move(state), false);
}

Timer MainQueue::repeating(Clock::duration interval, std::function<void()> fn) {
    auto state = std::make_shared<Timer::State>();
    state->fn = std::move(fn);
    // A timer that fires with no interval would spin the loop.
    state->interval = interval > Clock::duration::zero() ? interval : std::chrono::milliseconds(1);
    if (!state->fn) {
        state->cancelled = true;
        return Timer(std::move(state));
    }
    std::lock_guard lk(m_);
    addTimer(nowLocked() + state->interval, state, true);
    return Timer(std::move(state));
}

void MainQueue::addTimer(Clock::time_point due, std::shared_ptr<Timer::State> state, bool repeats) {
    bool earliest = timers_.empty() || due < timers_.top().due;
    timers_.push(Entry{due, nextSeq_++, std::move(state), repeats});
    if (earliest && driver_) driver_->scheduleAt(due);
}

void MainQueue::runBlock(const std::function<void()>& fn) {
    runCatching(fn, "MainQueue", "block");
}

void MainQueue::runPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lk(m_);
        batch.swap(blocks_);
    }
    for (auto& fn : batch) {
        runBlock(fn);
        fn = nullptr;
    }

    std::unique_lock lk(m_);
    const auto now = nowLocked();
    // Timers added while this round runs wait for the next round.
    const std::uint64_t seqLimit = nextSeq_;
    std::vector<Entry> carried;
    while (!timers_.empty() && timers_.top().due <= now) {
        Entry e = timers_.top();
        timers_.pop();
        if (e.seq >= seqLimit) {
            carried.push_back(std::move(e));
            continue;
        }
        if (e.state->cancelled.load()) continue;
        lk.unlock();
        runBlock(e.state->fn);
        lk.lock();
        if (e.repeats && !e.state->cancelled.load()) {
            auto next = e.due + e.state->interval;
            // After a stall, skip missed ticks instead of firing them in a burst.
            if (next <= now) next = now + e.state->interval;
            timers_.push(Entry{next, nextSeq_++, std::move(e.state), true});
        }
    }
    for (auto& e : carried) timers_.push(std::move(e));
    if (driver_) {
        if (!blocks_.empty()) driver_->wake();
        if (!timers_.empty()) driver_->scheduleAt(timers_.top().due);
    }
}

bool MainQueue::hasPendingBlocks() const {
    std::lock_guard lk(m_);
    return !blocks_.empty();
}

std::optional<MainQueue::Clock::time_point> MainQueue::nextDeadline() const {
    std::lock_guard lk(m_);
    if (timers_.empty()) return std::nullopt;
    return timers_.top().due;
}

} // namespace plat
