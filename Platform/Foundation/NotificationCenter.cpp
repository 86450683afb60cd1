#include "Platform/Foundation/NotificationCenter.h"

#include "Platform/Foundation/Log.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace plat {

struct ObserverToken::Entry {
    std::string name;
    NotificationCenter::Block block;

    std::mutex m;
    std::condition_variable idle;
    bool removed = false;
    std::vector<std::thread::id> runners; // threads inside `block` now
};

struct ObserverToken::State {
    std::mutex m;
    std::vector<std::shared_ptr<Entry>> entries; // in registration order
};

ObserverToken::ObserverToken(std::weak_ptr<State> state, std::shared_ptr<Entry> entry)
    : state_(std::move(state)), entry_(std::move(entry)) {}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : state_(std::move(other.state_)), entry_(std::move(other.entry_)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        state_ = std::move(other.state_);
        entry_ = std::move(other.entry_);
    }
    return *this;
}

ObserverToken::~ObserverToken() { reset(); }

void ObserverToken::reset() {
    std::shared_ptr<Entry> entry = std::move(entry_);
    entry_.reset();
    if (!entry) return;
    if (auto state = state_.lock()) {
        std::lock_guard lock(state->m);
        auto& v = state->entries;
        v.erase(std::remove(v.begin(), v.end(), entry), v.end());
    }
    state_.reset();
    // Wait for calls on other threads to finish; a call on this thread (the
    // observer removing itself, or a nested post) is left to return.
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(entry->m);
    entry->removed = true;
    entry->idle.wait(lock, [&] {
        return std::all_of(entry->runners.begin(), entry->runners.end(),
                           [&](std::thread::id t) { return t == self; });
    });
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<ObserverToken::State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter(); // never destroyed
    return *center;
}

ObserverToken NotificationCenter::addObserver(std::string name, Block block) {
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->name = std::move(name);
    entry->block = std::move(block);
    {
        std::lock_guard lock(state_->m);
        state_->entries.push_back(entry);
    }
    return ObserverToken(state_, std::move(entry));
}

void NotificationCenter::post(std::string_view name, std::any object, PlistValue userInfo) {
    post(Notification{std::string(name), std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<ObserverToken::Entry>> targets;
    {
        std::lock_guard lock(state_->m);
        for (const auto& e : state_->entries)
            if (e->name.empty() || e->name == notification.name) targets.push_back(e);
    }
    const auto self = std::this_thread::get_id();
    for (const auto& e : targets) {
        {
            std::lock_guard lock(e->m);
            if (e->removed) continue;
            e->runners.push_back(self);
        }
        try {
            if (e->block) e->block(notification);
        } catch (const std::exception& ex) {
            log("Observer of " + notification.name + " threw: " + ex.what());
        } catch (...) {
            log("Observer of " + notification.name + " threw");
        }
        {
            std::lock_guard lock(e->m);
            auto it = std::find(e->runners.begin(), e->runners.end(), self);
            if (it != e->runners.end()) e->runners.erase(it);
        }
        e->idle.notify_all();
    }
}

} // namespace plat
