#include "Platform/Dispatch/Semaphore.h"

#include "Platform/Dispatch/WorkerPool.h"

namespace plat {

void Semaphore::wait() {
    std::unique_lock lk(m_);
    if (count_ <= 0) {
        WorkerPool::Blocking blocking;
        cv_.wait(lk, [&] { return count_ > 0; });
    }
    --count_;
}

bool Semaphore::waitUntil(Clock::time_point deadline) {
    std::unique_lock lk(m_);
    if (count_ <= 0) {
        WorkerPool::Blocking blocking;
        if (!cv_.wait_until(lk, deadline, [&] { return count_ > 0; })) return false;
    }
    --count_;
    return true;
}

void Semaphore::signal() {
    std::lock_guard lk(m_);
    ++count_;
    cv_.notify_one();
}

} // namespace plat
