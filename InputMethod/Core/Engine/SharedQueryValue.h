#pragma once
#include <mutex>
#include <utility>

namespace taviro {

// A value that several tasks of one query need: the first task to ask
// computes it, the others wait for that answer instead of asking the store
// again.
template <class T>
class SharedQueryValue {
public:
    template <class Compute>
    T get(Compute&& compute) {
        std::call_once(once_, [&] { value_ = std::forward<Compute>(compute)(); });
        return value_;
    }

private:
    std::once_flag once_;
    T value_{};
};

} // namespace taviro
