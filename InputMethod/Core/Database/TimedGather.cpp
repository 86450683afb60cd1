#include "InputMethod/Core/Database/TimedGather.h"

#include "Platform/Dispatch/WorkerPool.h"

namespace taviro {

namespace {
struct GatherState {
    std::mutex m;
    std::condition_variable done;
    std::vector<std::optional<std::vector<CodeTable>>> results;
    std::size_t pending = 0;
    bool sealed = false;
};
} // namespace

std::vector<std::optional<std::vector<CodeTable>>> TimedGather::run(
    std::vector<Lookup> lookups, std::chrono::steady_clock::time_point deadline) {
    auto state = std::make_shared<GatherState>();
    state->results.resize(lookups.size());
    state->pending = lookups.size();
    for (std::size_t i = 0; i < lookups.size(); ++i) {
        plat::WorkerPool::shared().submit([state, i, lookup = std::move(lookups[i])] {
            std::vector<CodeTable> result;
            try {
                result = lookup();
            } catch (...) {
                // A failed lookup contributes nothing.
            }
            std::lock_guard lk(state->m);
            if (!state->sealed) state->results[i] = std::move(result);
            if (--state->pending == 0) state->done.notify_all();
        });
    }
    std::unique_lock lk(state->m);
    state->done.wait_until(lk, deadline, [&] { return state->pending == 0; });
    state->sealed = true;
    return std::move(state->results);
}

} // namespace taviro
