#pragma once
#include "Platform/InputMethodKit/InputMethodServer.h"

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

// Keys as IBus reports them (the keyval, the Linux evdev code and the state
// before the event, with the release bit) turned into the virtual key codes
// and modifier flags the input controller compares.
namespace ibuskeys {

// IBus state bits.
inline constexpr std::uint32_t kShiftMask = 1u << 0;
inline constexpr std::uint32_t kLockMask = 1u << 1;
inline constexpr std::uint32_t kControlMask = 1u << 2;
inline constexpr std::uint32_t kMod1Mask = 1u << 3;
inline constexpr std::uint32_t kMod2Mask = 1u << 4;
inline constexpr std::uint32_t kMod4Mask = 1u << 6;
inline constexpr std::uint32_t kMod5Mask = 1u << 7;
inline constexpr std::uint32_t kSuperMask = 1u << 26;
inline constexpr std::uint32_t kReleaseMask = 1u << 30;

// The virtual key code of an evdev code; none for keys the input method does
// not know.
std::optional<std::uint16_t> virtualKeyCode(std::uint32_t evdevCode);

// The flags a key adds by itself: numeric pad, function keys, arrows.
std::uint64_t keyOwnFlags(std::uint16_t virtualCode);

// The characters of keys that type no printable text (return, tab, space,
// delete, escape, keypad enter, function and navigation keys), as the
// controller expects them.
std::optional<std::string> specialKeyCharacters(std::uint16_t virtualCode);

// Shift, caps lock, control, alt and super of an IBus state; Num Lock, the
// other modifiers, buttons and IBus's own bits are dropped.
std::uint64_t modifierFlags(std::uint32_t state);

// One key as IBus reports it. `text` is what the keyval types (UTF-8, empty
// when nothing). Modifier keys give the flags after their change; a caps
// lock release and unknown keys give none (nothing to send).
//
// The characters of a key are what the controller expects whatever the
// modifiers:
// - keys that type nothing printable (return, tab, space, delete, escape,
//   function and navigation keys) give their fixed character, modifiers or not;
// - control (alone or with shift, alt, super) turns a letter and [ \ ] ^ _
//   into the control character U+0001-U+001F (Control+A is U+0001, never
//   "a"), so it is no code character and never starts a composition; digits
//   and other punctuation keep their character, so Control+1 is still "1";
// - shift and caps lock are already in the keyval ("A");
// - alt and super (command) change nothing: the keyval's text ("a", "A" with
//   shift). The layout's third level (AltGr) arrives as a keyval of its own
//   with a state bit that is dropped, so it types like any letter. The
//   controller passes every key with alt or super to the application, so
//   their shortcuts always reach it.
std::optional<KeyTransition> transition(std::uint32_t evdevCode, std::uint32_t state, const std::string& text);

} // namespace ibuskeys
} // namespace plat

namespace plat::ibuskeys {

// What IBus forwards for one press of a virtual key: the keyval of the US
// layout and the evdev code. None for keys that type text or are unknown.
struct ForwardKey {
    std::uint32_t keyval = 0;
    std::uint32_t evdevCode = 0;
    bool operator==(const ForwardKey&) const = default;
};
std::optional<ForwardKey> forwardKey(std::uint16_t virtualCode);

} // namespace plat::ibuskeys
