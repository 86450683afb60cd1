#pragma once
#include <chrono>
#include <functional>

namespace kelvane {

// Queues fn to the main queue and returns.
void onMain(std::function<void()> fn);

// Runs fn on the main queue and waits for it, at most `timeout`. On the main thread fn
// runs at once. When the wait times out the caller goes on and fn still runs later, so
// fn must own what it uses. Returns false on a timeout.
bool onMainAndWait(std::function<void()> fn,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

// True on the main thread.
bool isMainThread();

} // namespace kelvane
