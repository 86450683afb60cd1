#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace plat {

// A set of tasks on the shared WorkerPool that can be waited for, with or
// without a deadline. The state is shared with the tasks, so a task that
// finishes after the waiter gave up and the group object is gone is harmless.
// Copies of a TaskGroup refer to the same group.
class TaskGroup {
public:
    using Clock = std::chrono::steady_clock;

    TaskGroup();

    // Runs fn on the pool as a member of the group. A task that throws is
    // logged and counts as finished.
    void async(std::function<void()> fn);

    // Runs fn on the pool once every task submitted so far has finished
    // (at once when none is pending).
    void notify(std::function<void()> fn);

    // Blocks until every task has finished.
    void wait();

    // Blocks until every task has finished (true) or the deadline passed (false).
    bool waitUntil(Clock::time_point deadline);
    bool waitFor(Clock::duration timeout) { return waitUntil(Clock::now() + timeout); }

private:
    struct State {
        std::mutex m;
        std::condition_variable done;
        long pending = 0;
        std::vector<std::function<void()>> notifiers;
    };
    static void finish(const std::shared_ptr<State>& st);

    std::shared_ptr<State> state_;
};

} // namespace plat
