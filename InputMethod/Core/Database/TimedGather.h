#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"

namespace taviro {

// Runs lookups in parallel on the shared worker pool and collects what has
// finished by a deadline. Every lookup runs on a worker, so the caller never
// waits past the deadline, whatever a lookup waits on. The state is shared
// with the workers: a lookup that finishes late writes into a sealed holder
// that nobody reads any more. An empty Lookup stands for a source that has
// nothing to give: it starts no task and counts as finished with an empty
// result.
class TimedGather {
public:
    using Lookup = std::function<std::vector<CodeTable>()>;

    // One entry per lookup, in order: its result, or std::nullopt when it had
    // not finished by the deadline.
    static std::vector<std::optional<std::vector<CodeTable>>> run(
        std::vector<Lookup> lookups, std::chrono::steady_clock::time_point deadline);
};

} // namespace taviro
