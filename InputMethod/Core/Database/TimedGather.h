#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"

namespace taviro {

// Runs lookups in parallel and collects what has finished by a deadline. The
// state is shared with the workers, so a lookup that finishes late writes
// into a sealed holder that nobody reads any more.
//
// With two lookups or more, the first one runs on the calling thread while
// the others run on the shared worker pool: one hand-off fewer per gather.
// Callers put first a lookup that does not wait on others (a local table);
// its result too is dropped when it ends after the deadline. An empty Lookup
// stands for a source that has nothing to give: it starts no task and
// counts as finished with an empty result.
class TimedGather {
public:
    using Lookup = std::function<std::vector<CodeTable>()>;

    // One entry per lookup, in order: its result, or std::nullopt when it had
    // not finished by the deadline.
    static std::vector<std::optional<std::vector<CodeTable>>> run(
        std::vector<Lookup> lookups, std::chrono::steady_clock::time_point deadline);
};

} // namespace taviro
