#include "Platform/Dispatch/SerialQueue.h"

#include "Platform/Dispatch/RunCatching.h"
#include "Platform/Dispatch/WorkerPool.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace plat {

namespace {

// The chain of queues whose blocks run on this thread, innermost first.
struct Frame {
    SerialQueue* queue;
    Frame* outer;
};
thread_local Frame* tlsTop = nullptr;

struct FrameScope {
    Frame frame;
    explicit FrameScope(SerialQueue* q) : frame{q, tlsTop} { tlsTop = &frame; }
    ~FrameScope() { tlsTop = frame.outer; }
};

} // namespace

struct SerialQueue::Ticket {
    std::condition_variable granted;
    bool isGranted = false;
};

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {}

SerialQueue::~SerialQueue() {
    if (isHeldByCurrentThread()) {
        std::fprintf(stderr, "SerialQueue %s destroyed from inside one of its own blocks\n",
                     label_.c_str());
        std::fflush(stderr);
        std::abort();
    }
    std::unique_lock lk(m_);
    idle_.wait(lk, [&] { return !owned_ && items_.empty(); });
}

SerialQueue* SerialQueue::current() {
    return tlsTop ? tlsTop->queue : nullptr;
}

bool SerialQueue::isHeldByCurrentThread() const {
    for (Frame* f = tlsTop; f; f = f->outer)
        if (f->queue == this) return true;
    return false;
}

void SerialQueue::dieReentrant(const char* message) const {
    if (message)
        std::fprintf(stderr, "%s\n", message);
    else
        std::fprintf(stderr,
                     "SerialQueue %s: sync was called reentrantly on the same queue, "
                     "which would lead to a deadlock\n",
                     label_.c_str());
    std::fflush(stderr);
    std::abort();
}

void SerialQueue::async(std::function<void()> fn) {
    if (!fn) return;
    std::unique_lock lk(m_);
    items_.push_back(Item{std::move(fn), nullptr});
    if (!owned_) {
        owned_ = true;
        lk.unlock();
        WorkerPool::shared().submit([this] { drain(); });
    }
}

void SerialQueue::syncImpl(void (*call)(void*), void* ctx, const char* reentryMessage) {
    if (isHeldByCurrentThread()) dieReentrant(reentryMessage);
    {
        std::unique_lock lk(m_);
        if (owned_ || !items_.empty()) {
            Ticket ticket;
            items_.push_back(Item{{}, &ticket});
            WorkerPool::Blocking blocking;
            ticket.granted.wait(lk, [&] { return ticket.isGranted; });
        }
        owned_ = true;
    }
    struct Release {
        SerialQueue* q;
        ~Release() { q->release(); }
    } releaseOnExit{this};
    FrameScope scope(this);
    call(ctx);
}

void SerialQueue::release() {
    std::unique_lock lk(m_);
    handOnLocked(lk);
}

// The current owner is done: pass the queue to the next waiter, start the
// drainer for async blocks, or mark the queue idle.
void SerialQueue::handOnLocked(std::unique_lock<std::mutex>& lk) {
    if (items_.empty()) {
        owned_ = false;
        idle_.notify_all();
        return;
    }
    if (Ticket* t = items_.front().ticket) {
        items_.pop_front();
        t->isGranted = true;
        t->granted.notify_one();
        return;
    }
    lk.unlock();
    WorkerPool::shared().submit([this] { drain(); });
}

void SerialQueue::drain() {
    std::unique_lock lk(m_);
    while (!items_.empty() && !items_.front().ticket) {
        auto fn = std::move(items_.front().fn);
        items_.pop_front();
        lk.unlock();
        {
            FrameScope scope(this);
            runCatching(fn, "SerialQueue", "block", label_.c_str());
            fn = nullptr;
        }
        lk.lock();
    }
    handOnLocked(lk);
}

} // namespace plat
