#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace plat {

// Event types, by the platform's numbers.
enum class EventType : int { keyDown = 10, keyUp = 11, flagsChanged = 12 };

// Modifier-flag masks as key events carry them.
namespace ModifierFlag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t numericPad = 0x200000;
inline constexpr std::uint64_t function = 0x800000;
// What the arrow keys carry on their own: function plus numeric pad.
inline constexpr std::uint64_t arrowKey = 0xA00000;
} // namespace ModifierFlag

// Virtual key codes the input method tests.
namespace KeyCode {
inline constexpr std::uint16_t h = 4;
inline constexpr std::uint16_t returnKey = 36;
inline constexpr std::uint16_t tab = 48;
inline constexpr std::uint16_t space = 49;
inline constexpr std::uint16_t deleteKey = 51;
inline constexpr std::uint16_t escape = 53;
inline constexpr std::uint16_t rightCommand = 54;
inline constexpr std::uint16_t command = 55;
inline constexpr std::uint16_t shift = 56;
inline constexpr std::uint16_t capsLock = 57;
inline constexpr std::uint16_t option = 58;
inline constexpr std::uint16_t control = 59;
inline constexpr std::uint16_t rightShift = 60;
inline constexpr std::uint16_t rightOption = 61;
inline constexpr std::uint16_t rightControl = 62;
inline constexpr std::uint16_t function = 63;
inline constexpr std::uint16_t keypadEnter = 76;
inline constexpr std::uint16_t home = 115;
inline constexpr std::uint16_t pageUp = 116;
inline constexpr std::uint16_t forwardDelete = 117;
inline constexpr std::uint16_t end = 119;
inline constexpr std::uint16_t pageDown = 121;
inline constexpr std::uint16_t leftArrow = 123;
inline constexpr std::uint16_t rightArrow = 124;
inline constexpr std::uint16_t downArrow = 125;
inline constexpr std::uint16_t upArrow = 126;

// True for the keys that only change modifier flags (54-63).
constexpr bool isModifierKey(std::uint16_t code) { return code >= rightCommand && code <= function; }
} // namespace KeyCode

// One key event: its type, virtual key code, modifier flags and the
// characters it types (absent for keys that type nothing and for
// flags-changed events).
struct KeyEvent {
    EventType type = EventType::keyDown;
    std::uint16_t keyCode = 0;
    std::uint64_t modifierFlags = 0;
    std::optional<std::string> characters;

    static KeyEvent keyDown(std::uint16_t code, std::uint64_t flags, std::optional<std::string> chars) {
        return KeyEvent{EventType::keyDown, code, flags, std::move(chars)};
    }
    static KeyEvent flagsChanged(std::uint16_t code, std::uint64_t flags) {
        return KeyEvent{EventType::flagsChanged, code, flags, std::nullopt};
    }
};

} // namespace plat
