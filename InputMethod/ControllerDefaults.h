#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace taviro {

// The built-in tables every input controller starts from. Each call builds
// fresh copies.
struct ControllerDefaults {
    // Key codes of the four arrow keys: left, right, down, up.
    static std::vector<std::uint16_t> arrows();
    // The guide-button map: 27 keys after ";" and 27 after "'" (marked "⇣").
    static std::map<std::string, std::string> shortCutInputDic();
    // The "#" command names, in the order of their list.
    static std::vector<std::string> macros();
    static std::string numbers();
    // Clients that open in English mode.
    static std::set<std::string> systemList();
    // Clients in which guide-button values are inserted as plain text.
    static std::set<std::string> noMarcoList();
    static std::string shortCutComma();
};

} // namespace taviro
