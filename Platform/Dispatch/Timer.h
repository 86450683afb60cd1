#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace plat {

// Handle of a repeating timer on the MainQueue. Destroying the handle or
// calling cancel() stops the timer: cancelled on the main thread, it never
// fires again; cancelled on another thread, a tick already running finishes.
class Timer {
public:
    Timer() = default;
    ~Timer() { cancel(); }
    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void cancel() {
        if (state_) state_->cancelled.store(true);
        state_.reset();
    }
    bool isActive() const { return state_ && !state_->cancelled.load(); }

    struct State {
        std::chrono::steady_clock::duration interval{};
        std::function<void()> fn;
        std::atomic<bool> cancelled{false};
    };

private:
    friend class MainQueue;
    explicit Timer(std::shared_ptr<State> s) : state_(std::move(s)) {}
    std::shared_ptr<State> state_;
};

} // namespace plat
