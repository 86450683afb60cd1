#pragma once
#include "Platform/Dispatch/TaskGroup.h"
#include "Platform/Dispatch/WorkerPool.h"

#include <functional>
#include <string>
#include <utility>

namespace plat {

// A labelled concurrent queue: its blocks run in parallel on the shared
// WorkerPool. The label only names the queue; dropping the queue object
// does not cancel blocks already submitted.
class ConcurrentQueue {
public:
    explicit ConcurrentQueue(std::string label) : label_(std::move(label)) {}

    const std::string& label() const { return label_; }

    void async(std::function<void()> fn) { WorkerPool::shared().submit(std::move(fn)); }
    void async(TaskGroup& group, std::function<void()> fn) { group.async(std::move(fn)); }

private:
    std::string label_;
};

} // namespace plat
