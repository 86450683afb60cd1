#pragma once
#include <mutex>
#include <utility>

namespace plat {

// One-time initialisation that is safe across threads: the first call of
// run() executes fn, concurrent callers wait for it, later calls do nothing.
// If fn throws, the next call tries again. (A function-local static does the
// same for a single value.)
class Once {
public:
    template <class F>
    void run(F&& fn) {
        std::call_once(flag_, std::forward<F>(fn));
    }

private:
    std::once_flag flag_;
};

} // namespace plat
