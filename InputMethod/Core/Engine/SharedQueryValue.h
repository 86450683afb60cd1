#pragma once
#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

namespace taviro {

// A value that several tasks of one query need: the first task to ask
// computes it, the others wait for that answer instead of asking the store
// again.
template <class T>
class SharedQueryValue {
public:
    template <class Compute>
    T get(Compute&& compute) {
        std::call_once(once_, [&] {
            value_ = std::forward<Compute>(compute)();
            ready_.store(true, std::memory_order_release);
        });
        return value_;
    }

    // The value when it has been computed already; never waits.
    std::optional<T> ifReady() const {
        if (!ready_.load(std::memory_order_acquire)) return std::nullopt;
        return value_;
    }

private:
    std::once_flag once_;
    std::atomic<bool> ready_{false};
    T value_{};
};

} // namespace taviro
