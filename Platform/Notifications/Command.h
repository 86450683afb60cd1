#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace plat {

// A userInfo value: a Boolean, a string or a signed 64-bit integer. monostate stands
// for a value of any other type received from the bus.
using CommandValue = std::variant<std::monostate, bool, std::string, int64_t>;

// One command of the channel: the command string and its userInfo.
struct Command {
    std::string name;
    std::map<std::string, CommandValue> userInfo;

    static Command plain(std::string name) { return Command{std::move(name), {}}; }

    // The typed entry, or none when it is missing or of another type.
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<int64_t> intValue(const std::string& key) const;

    bool operator==(const Command&) const = default;
};

// Checks a received command: the three commands with an argument must carry their entry
// with its type ("okToUse" b, "name" s, "size" x); entries of a wrong type under a known
// key are dropped from any command, as are values of unsupported types. Returns none
// when the command must be ignored.
std::optional<Command> validateCommand(Command command);

} // namespace plat
