#include "InputMethod/Core/Database/TimedGather.h"

#include "Platform/Dispatch/SealedResults.h"
#include "Platform/Dispatch/TaskGroup.h"

namespace taviro {

namespace {

std::vector<CodeTable> runCatching(const TimedGather::Lookup& lookup) {
    try {
        return lookup();
    } catch (...) {
        // A failed lookup contributes nothing.
        return {};
    }
}

} // namespace

std::vector<std::optional<std::vector<CodeTable>>> TimedGather::run(
    std::vector<Lookup> lookups, std::chrono::steady_clock::time_point deadline) {
    plat::SealedResults<std::vector<CodeTable>> slots(lookups.size());
    std::vector<std::size_t> started;
    for (std::size_t i = 0; i < lookups.size(); ++i) {
        if (lookups[i])
            started.push_back(i);
        else
            slots.offer(i, {});  // a source left out answers nothing, in time
    }
    plat::TaskGroup group;
    const bool firstHere = started.size() >= 2;
    for (std::size_t k = firstHere ? 1 : 0; k < started.size(); ++k) {
        const std::size_t i = started[k];
        group.async([slots, i, lookup = std::move(lookups[i])] { slots.offer(i, runCatching(lookup)); });
    }
    if (firstHere) {
        const std::size_t i = started.front();
        auto result = runCatching(lookups[i]);
        if (std::chrono::steady_clock::now() <= deadline) slots.offer(i, std::move(result));
    }
    group.waitUntil(deadline);
    return slots.seal();
}

} // namespace taviro
