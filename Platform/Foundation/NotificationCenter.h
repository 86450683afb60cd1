#pragma once
#include "Platform/Foundation/Plist.h"

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

// What a post carries: its name, an optional object and a userInfo
// dictionary (null when the poster gave none).
struct Notification {
    std::string name;
    std::any object;
    PlistValue userInfo;
};

class NotificationCenter;

// Keeps one observer registered. Destroying or resetting the token removes
// it; once that returns the observer is not running on any other thread and
// will not be called again. An observer may drop its own token while it runs.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void reset();
    explicit operator bool() const { return static_cast<bool>(entry_); }

private:
    friend class NotificationCenter;
    struct Entry;
    struct State;
    ObserverToken(std::weak_ptr<State> state, std::shared_ptr<Entry> entry);

    std::weak_ptr<State> state_;
    std::shared_ptr<Entry> entry_;
};

// The in-process notification centre: synchronous posts, observers called on
// the posting thread in the order they were added.
class NotificationCenter {
public:
    using Block = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre; it lives as long as the process.
    static NotificationCenter& defaultCenter();

    // Calls `block` for every post of `name` (an empty name: every post).
    // Observers added during a post are not called by that post.
    [[nodiscard]] ObserverToken addObserver(std::string name, Block block);

    void post(std::string_view name, std::any object = {}, PlistValue userInfo = {});
    void post(const Notification& notification);

private:
    std::shared_ptr<ObserverToken::State> state_;
};

} // namespace plat
