#include "Platform/Notifications/Command.h"

#include "Platform/Notifications/CommandChannelNames.h"

#include <cstring>

namespace plat {

namespace {
template <class T>
std::optional<T> typed(const std::map<std::string, CommandValue>& info, const std::string& key) {
    auto it = info.find(key);
    if (it == info.end()) return std::nullopt;
    if (const T* v = std::get_if<T>(&it->second)) return *v;
    return std::nullopt;
}
} // namespace

std::optional<bool> Command::boolValue(const std::string& key) const { return typed<bool>(userInfo, key); }
std::optional<std::string> Command::stringValue(const std::string& key) const {
    return typed<std::string>(userInfo, key);
}
std::optional<int64_t> Command::intValue(const std::string& key) const { return typed<int64_t>(userInfo, key); }

std::optional<Command> validateCommand(Command command) {
    if (command.name.empty()) return std::nullopt;
    for (auto it = command.userInfo.begin(); it != command.userInfo.end();) {
        const auto& [key, value] = *it;
        bool keep = !std::holds_alternative<std::monostate>(value);
        if (key == command::kOkToUseKey) keep = std::holds_alternative<bool>(value);
        else if (key == command::kNameKey) keep = std::holds_alternative<std::string>(value);
        else if (key == command::kSizeKey) keep = std::holds_alternative<int64_t>(value);
        it = keep ? std::next(it) : command.userInfo.erase(it);
    }
    const auto needs = [&](const char* cmd, const char* key) {
        return command.name == cmd && command.userInfo.find(key) == command.userInfo.end();
    };
    if (needs(command::kOkToUse, command::kOkToUseKey) ||
        needs(command::kSwitchCandidatesPanel, command::kNameKey) ||
        needs(command::kSetFontSize, command::kSizeKey))
        return std::nullopt;
    return command;
}

} // namespace plat
