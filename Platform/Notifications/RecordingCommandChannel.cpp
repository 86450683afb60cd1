#include "Platform/Notifications/RecordingCommandChannel.h"

namespace plat {

void RecordingCommandChannel::post(const Command& command) {
    std::lock_guard lk(m_);
    commands_.push_back(command);
}

std::vector<Command> RecordingCommandChannel::commands() const {
    std::lock_guard lk(m_);
    return commands_;
}

std::vector<std::string> RecordingCommandChannel::log() const {
    std::vector<std::string> out;
    for (const auto& c : commands()) {
        std::string line = c.name;
        for (const auto& [key, value] : c.userInfo) {
            line += "=";
            if (auto b = std::get_if<bool>(&value)) line += *b ? "true" : "false";
            else if (auto s = std::get_if<std::string>(&value)) line += *s;
            else if (auto i = std::get_if<int64_t>(&value)) line += std::to_string(*i);
            else line += "?";
        }
        out.push_back(std::move(line));
    }
    return out;
}

void RecordingCommandChannel::clear() {
    std::lock_guard lk(m_);
    commands_.clear();
}

} // namespace plat
