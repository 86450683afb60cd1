#include "InputMethod/Core/Database/TimedGather.h"

#include <condition_variable>
#include <memory>
#include <mutex>

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

std::vector<CodeTable> runCatching(const TimedGather::Lookup& lookup) {
    try {
        return lookup();
    } catch (...) {
        // A failed lookup contributes nothing.
        return {};
    }
}

// Stores a result unless the gather is sealed or the result came too late.
void deliver(GatherState& state, std::size_t i, std::vector<CodeTable> result, bool inTime = true) {
    std::lock_guard lk(state.m);
    if (!state.sealed && inTime) state.results[i] = std::move(result);
    if (--state.pending == 0) state.done.notify_all();
}

} // namespace

std::vector<std::optional<std::vector<CodeTable>>> TimedGather::run(
    std::vector<Lookup> lookups, std::chrono::steady_clock::time_point deadline) {
    auto state = std::make_shared<GatherState>();
    state->results.resize(lookups.size());
    std::vector<std::size_t> started;
    for (std::size_t i = 0; i < lookups.size(); ++i) {
        if (lookups[i])
            started.push_back(i);
        else
            state->results[i].emplace();
    }
    state->pending = started.size();
    const bool firstHere = started.size() >= 2;
    for (std::size_t k = firstHere ? 1 : 0; k < started.size(); ++k) {
        const std::size_t i = started[k];
        plat::WorkerPool::shared().submit(
            [state, i, lookup = std::move(lookups[i])] { deliver(*state, i, runCatching(lookup)); });
    }
    if (firstHere) {
        const std::size_t i = started.front();
        auto result = runCatching(lookups[i]);
        deliver(*state, i, std::move(result), std::chrono::steady_clock::now() <= deadline);
    }
    std::unique_lock lk(state->m);
    state->done.wait_until(lk, deadline, [&] { return state->pending == 0; });
    state->sealed = true;
    return std::move(state->results);
}

} // namespace taviro
