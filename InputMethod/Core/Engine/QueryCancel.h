#pragma once
#include <atomic>
#include <memory>

namespace taviro {

// The cancel flag of one query. A query that stops waiting for its tasks
// cancels it; the tasks look at it before every store call, so abandoned work
// does not pile onto the database queues. A nested lookup's flag is also
// cancelled when its parent is.
class QueryCancel {
public:
    explicit QueryCancel(std::shared_ptr<const QueryCancel> parent = nullptr)
        : parent_(std::move(parent)) {}

    void cancel() { cancelled_.store(true, std::memory_order_release); }

    bool isCancelled() const {
        for (const QueryCancel* c = this; c; c = c->parent_.get())
            if (c->cancelled_.load(std::memory_order_acquire)) return true;
        return false;
    }

    static std::shared_ptr<QueryCancel> child(const std::shared_ptr<const QueryCancel>& parent) {
        return std::make_shared<QueryCancel>(parent);
    }

private:
    std::shared_ptr<const QueryCancel> parent_;
    std::atomic<bool> cancelled_{false};
};

} // namespace taviro
