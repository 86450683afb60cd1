#include "InputMethod/KeyScript.h"

#include "Platform/InputMethodKit/UsKeyboard.h"

#include <map>

namespace taviro {
namespace {

namespace Flag = plat::ModifierFlag;
namespace Key = plat::KeyCode;

struct Special {
    std::uint16_t code;
    std::uint64_t flags;
    const char* chars;
};

const std::map<std::string, Special>& specials() {
    static const std::map<std::string, Special> table = {
        {"Left", {Key::leftArrow, Flag::arrowKey, "\xEF\x9C\x82"}},
        {"Right", {Key::rightArrow, Flag::arrowKey, "\xEF\x9C\x83"}},
        {"Down", {Key::downArrow, Flag::arrowKey, "\xEF\x9C\x81"}},
        {"Up", {Key::upArrow, Flag::arrowKey, "\xEF\x9C\x80"}},
        {"PageUp", {Key::pageUp, Flag::function, "\xEF\x9C\xAC"}},
        {"PageDown", {Key::pageDown, Flag::function, "\xEF\x9C\xAD"}},
        {"Home", {Key::home, Flag::function, "\xEF\x9C\xA9"}},
        {"End", {Key::end, Flag::function, "\xEF\x9C\xAB"}},
        {"Del", {Key::forwardDelete, Flag::function, "\xEF\x9C\xA8"}},
        {"Tab", {Key::tab, 0, "\t"}},
        {"S-Tab", {Key::tab, Flag::shift, "\t"}},
        {"Esc", {Key::escape, 0, "\x1b"}},
        {"BS", {Key::deleteKey, 0, "\x7f"}},
        {"Return", {Key::returnKey, 0, "\r"}},
        {"Enter", {Key::keypadEnter, Flag::numericPad, "\x03"}},
        {"Space", {Key::space, 0, " "}},
    };
    return table;
}

plat::KeyTransition modifier(std::uint16_t code, bool pressed, std::uint64_t flags) {
    return plat::KeyTransition{code, pressed, flags, std::nullopt};
}

std::optional<KeyStep> charStep(char c) {
    const auto stroke = plat::UsKeyboard::strokeFor(c);
    if (!stroke) return std::nullopt;
    const auto event = plat::UsKeyboard::keyDownFor(c);
    KeyStep step;
    step.label = c == '\n' ? "{Return}" : c == ' ' ? "{Space}" : std::string(1, c);
    if (stroke->shift) step.keys.push_back(modifier(Key::shift, true, Flag::shift));
    step.keys.push_back({stroke->keyCode, true, event->modifierFlags, event->characters});
    step.keys.push_back({stroke->keyCode, false, event->modifierFlags, event->characters});
    if (stroke->shift) step.keys.push_back(modifier(Key::shift, false, 0));
    return step;
}

} // namespace

std::optional<std::vector<KeyStep>> KeyScript::parse(const std::string& script, std::string* error) {
    std::vector<KeyStep> steps;
    auto fail = [&](const std::string& why) -> std::optional<std::vector<KeyStep>> {
        if (error) *error = why;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (c == '{' && i + 1 < script.size() && script[i + 1] == '{') {
            auto step = charStep('{');
            steps.push_back(*step);
            ++i;
            continue;
        }
        if (c == '{') {
            const auto close = script.find('}', i + 1);
            if (close == std::string::npos) return fail("unclosed escape at " + std::to_string(i));
            const std::string name = script.substr(i + 1, close - i - 1);
            i = close;
            KeyStep step;
            step.label = "{" + name + "}";
            if (auto it = specials().find(name); it != specials().end()) {
                const Special& k = it->second;
                if (k.flags & Flag::shift) step.keys.push_back(modifier(Key::shift, true, Flag::shift));
                step.keys.push_back({k.code, true, k.flags, std::string(k.chars)});
                step.keys.push_back({k.code, false, k.flags, std::string(k.chars)});
                if (k.flags & Flag::shift) step.keys.push_back(modifier(Key::shift, false, 0));
            } else if (name == "Shift") {
                step.keys = {modifier(Key::shift, true, Flag::shift), modifier(Key::shift, false, 0)};
            } else if (name == "Ctrl") {
                step.keys = {modifier(Key::control, true, Flag::control), modifier(Key::control, false, 0)};
            } else if (name.size() == 3 && name.compare(0, 2, "C-") == 0) {
                const char k = name[2];
                const auto stroke = plat::UsKeyboard::strokeFor(k);
                if (!stroke || stroke->shift) return fail("no control key for " + name);
                const std::string chars = plat::UsKeyboard::controlCharacters(std::string(1, k));
                step.keys = {modifier(Key::control, true, Flag::control),
                             {stroke->keyCode, true, Flag::control, chars},
                             {stroke->keyCode, false, Flag::control, chars},
                             modifier(Key::control, false, 0)};
            } else {
                return fail("unknown escape {" + name + "}");
            }
            steps.push_back(std::move(step));
            continue;
        }
        auto step = charStep(c);
        if (!step) return fail("no key types the byte at " + std::to_string(i));
        steps.push_back(std::move(*step));
    }
    return steps;
}

std::string KeyScript::help() {
    return "  {Left} {Right} {Up} {Down}   arrow keys\n"
           "  {PageUp} {PageDown}          paging keys\n"
           "  {Home} {End} {Del}           home, end, forward delete\n"
           "  {Tab} {S-Tab}                tab, shift-tab\n"
           "  {Esc} {BS}                   escape, delete backwards\n"
           "  {Return} {Enter} {Space}     return, keypad enter, space\n"
           "  {Shift} {Ctrl}               a lone tap of shift or control\n"
           "  {C-x}                        control with the key x ({C-1}, {C-h})\n"
           "  {{                           a \"{\"\n"
           "  A new line is Return; capitals and shifted punctuation are typed with shift.\n";
}

} // namespace taviro
