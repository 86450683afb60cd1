#include "Settings/MainThread.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Foundation/Log.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace kelvane {

void onMain(std::function<void()> fn) { plat::MainQueue::shared().async(std::move(fn)); }

bool isMainThread() { return plat::MainQueue::shared().isMainThread(); }

bool onMainAndWait(std::function<void()> fn, std::chrono::milliseconds timeout) {
    if (isMainThread()) {
        fn();
        return true;
    }
    struct Done {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    plat::MainQueue::shared().async([fn = std::move(fn), done] {
        fn();
        std::lock_guard lk(done->m);
        done->done = true;
        done->cv.notify_all();
    });
    std::unique_lock lk(done->m);
    if (done->cv.wait_for(lk, timeout, [&] { return done->done; })) return true;
    plat::log("Kelvane: the main queue did not answer in time; going on");
    return false;
}

} // namespace kelvane
