#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "InputMethod/Core/Database/CodeTable.h"

namespace taviro {

// Runs lookups in parallel on the shared worker pool and collects what has
// finished by a deadline. The state is shared with the workers, so a lookup
// that finishes late writes into a sealed holder that nobody reads any more.
class TimedGather {
public:
    using Lookup = std::function<std::vector<CodeTable>()>;

    // One entry per lookup, in order: its result, or std::nullopt when it had
    // not finished by the deadline.
    static std::vector<std::optional<std::vector<CodeTable>>> run(
        std::vector<Lookup> lookups, std::chrono::steady_clock::time_point deadline);
};

} // namespace taviro
