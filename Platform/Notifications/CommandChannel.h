#pragma once
#include "Platform/Notifications/Command.h"

namespace plat {

// The sending end of the command channel. post never blocks for long and reports
// nothing: a command nobody receives is lost. Commands posted from one thread arrive
// in the order they were posted.
class CommandChannel {
public:
    virtual ~CommandChannel() = default;
    virtual void post(const Command& command) = 0;
};

} // namespace plat
