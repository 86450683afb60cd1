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
    plat::TaskGroup group;
    for (std::size_t i = 0; i < lookups.size(); ++i) {
        if (!lookups[i]) {
            slots.offer(i, {});  // a source left out answers nothing, in time
            continue;
        }
        group.async([slots, i, lookup = std::move(lookups[i])] { slots.offer(i, runCatching(lookup)); });
    }
    group.waitUntil(deadline);
    return slots.seal();
}

} // namespace taviro
