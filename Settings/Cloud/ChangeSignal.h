#pragma once
#include <functional>
#include <map>
#include <memory>

namespace kelvane {

// Ends an observation when it goes away.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Subscription() { reset(); }
    Subscription(Subscription&& o) noexcept : cancel_(std::move(o.cancel_)) { o.cancel_ = nullptr; }
    Subscription& operator=(Subscription&& o) noexcept {
        if (this != &o) {
            reset();
            cancel_ = std::move(o.cancel_);
            o.cancel_ = nullptr;
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    void reset() {
        if (cancel_) cancel_();
        cancel_ = nullptr;
    }

private:
    std::function<void()> cancel_;
};

// "Something changed" for the views that draw a presenter. Main thread only.
class ChangeSignal {
public:
    [[nodiscard]] Subscription subscribe(std::function<void()> fn) {
        const int id = state_->next++;
        state_->observers.emplace(id, std::move(fn));
        return Subscription([weak = std::weak_ptr<State>(state_), id] {
            if (auto s = weak.lock()) s->observers.erase(id);
        });
    }
    void notify() const {
        auto copy = state_->observers; // an observer may unsubscribe while it runs
        for (auto& [id, fn] : copy)
            if (state_->observers.count(id)) fn();
    }

private:
    struct State {
        std::map<int, std::function<void()>> observers;
        int next = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace kelvane
