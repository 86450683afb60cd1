#pragma once
#include "Platform/Notifications/CommandChannel.h"

#include <mutex>
#include <string>
#include <vector>

namespace plat {

// A channel that keeps every posted command, for tests. Safe to post from any thread.
class RecordingCommandChannel : public CommandChannel {
public:
    void post(const Command& command) override;

    std::vector<Command> commands() const;
    // The commands as short texts: the name, with "=value" for an argument
    // ("okToUse=false", "setFontSize=18", "switchCandidatesPanel=竖排候选栏").
    std::vector<std::string> log() const;
    void clear();

private:
    mutable std::mutex m_;
    std::vector<Command> commands_;
};

} // namespace plat
