#pragma once
#include "Platform/InputMethodKit/InputMethodServer.h"

#include <optional>
#include <string>
#include <vector>

namespace taviro {

// One typed step of a key script: a label and the key transitions it makes.
struct KeyStep {
    std::string label;
    std::vector<plat::KeyTransition> keys;
};

// Key scripts: text typed on the US layout, with escapes in braces for the
// keys that type nothing:
//   {Left} {Right} {Up} {Down} {PageUp} {PageDown} {Home} {End} {Tab} {S-Tab}
//   {Esc} {BS} (delete backwards) {Del} (forward delete) {Return} {Enter}
//   (keypad) {Space} {Shift} (a lone shift tap) {Ctrl} (a lone control tap)
//   {C-x} (control with the key x, e.g. {C-1} or {C-h}) {{ (a "{")
// A new line is Return; upper-case letters and shifted punctuation are typed
// with shift held.
class KeyScript {
public:
    // The steps of a script; none (with `error` set) for an unknown escape or
    // a character no key types.
    static std::optional<std::vector<KeyStep>> parse(const std::string& script, std::string* error = nullptr);

    // The escapes, one per line, for a help text.
    static std::string help();
};

} // namespace taviro
