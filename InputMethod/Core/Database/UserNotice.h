#pragma once
#include <string>

namespace taviro {

// A short message for the user (the desktop shows it as a notification).
// Posted from any thread; implementations must not call back into the store.
class UserNotice {
public:
    virtual ~UserNotice() = default;
    virtual void post(const std::string& title, const std::string& text) = 0;
};

} // namespace taviro
