#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace plat {

// A labelled queue that runs its blocks one at a time in submission order.
//
// async blocks run on the shared WorkerPool. A sync block always runs on the
// calling thread once every block submitted before it has finished, so a
// sync from inside a block of another queue works, and an exception thrown by
// a sync block reaches its caller. A sync on a queue that this thread is
// already running a block of (directly or through nested syncs) would wait for
// itself: it prints a message to stderr and aborts the program.
//
// Destruction waits until every block already submitted has run. Destroying a
// queue from inside one of its own blocks aborts.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    // Queues fn and returns at once. A block that throws is logged and dropped.
    void async(std::function<void()> fn);

    // Runs fn on the queue and returns its result when it has run.
    template <class F>
    std::invoke_result_t<F&> sync(F&& fn) {
        return syncCheckingReentry(std::forward<F>(fn), nullptr);
    }

    // sync, with the text printed when the call is re-entrant.
    template <class F>
    std::invoke_result_t<F&> syncCheckingReentry(F&& fn, const char* reentryMessage) {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            syncImpl(&callVoid<std::remove_reference_t<F>>,
                     const_cast<void*>(static_cast<const void*>(std::addressof(fn))), reentryMessage);
        } else if constexpr (std::is_reference_v<R>) {
            std::remove_reference_t<R>* result = nullptr;
            auto run = [&] { result = std::addressof(fn()); };
            syncImpl(&callVoid<decltype(run)>, &run, reentryMessage);
            return static_cast<R>(*result);
        } else {
            std::optional<R> result;
            auto run = [&] { result.emplace(fn()); };
            syncImpl(&callVoid<decltype(run)>, &run, reentryMessage);
            return std::move(*result);
        }
    }

    // True when the innermost block running on this thread is one of this queue's.
    bool isCurrent() const { return current() == this; }

    // True when this thread is running a block of this queue, possibly with
    // blocks of other queues nested inside it (a sync would deadlock).
    bool isHeldByCurrentThread() const;

    // The queue whose block runs innermost on this thread, nullptr otherwise.
    static SerialQueue* current();

private:
    struct Ticket;
    struct Item {
        std::function<void()> fn;  // an async block, or empty for a sync ticket
        Ticket* ticket = nullptr;
    };

    template <class G>
    static void callVoid(void* g) {
        (*static_cast<G*>(g))();
    }

    void syncImpl(void (*call)(void*), void* ctx, const char* reentryMessage);
    void release();           // called by the owner when its block is done
    void handOnLocked(std::unique_lock<std::mutex>& lk);
    void drain();             // pool task: runs async blocks until a ticket or empty
    [[noreturn]] void dieReentrant(const char* message) const;

    std::string label_;
    std::mutex m_;
    std::condition_variable idle_;
    std::deque<Item> items_;
    bool owned_ = false;  // a block (or the drainer) holds the queue
};

} // namespace plat
