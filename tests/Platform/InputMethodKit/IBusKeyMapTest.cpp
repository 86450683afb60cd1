#include "Platform/InputMethodKit/IBusKeyMap.h"
#include "Platform/InputMethodKit/KeyEvent.h"
#include "Platform/InputMethodKit/ScriptedClient.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace plat::ibuskeys;
namespace Flag = plat::ModifierFlag;

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// The whole key table: evdev code, virtual key code, the flags the key adds
// by itself, and the character of non-printing keys (0: the keyval's text).
struct Row {
    std::uint32_t evdev;
    const char* name;
    std::uint16_t vk;
    std::uint64_t own;
    char32_t special;
};

const Row kKeys[] = {
    {30, "KEY_A", 0, 0, 0},
    {31, "KEY_S", 1, 0, 0},
    {32, "KEY_D", 2, 0, 0},
    {33, "KEY_F", 3, 0, 0},
    {35, "KEY_H", 4, 0, 0},
    {34, "KEY_G", 5, 0, 0},
    {44, "KEY_Z", 6, 0, 0},
    {45, "KEY_X", 7, 0, 0},
    {46, "KEY_C", 8, 0, 0},
    {47, "KEY_V", 9, 0, 0},
    {48, "KEY_B", 11, 0, 0},
    {16, "KEY_Q", 12, 0, 0},
    {17, "KEY_W", 13, 0, 0},
    {18, "KEY_E", 14, 0, 0},
    {19, "KEY_R", 15, 0, 0},
    {21, "KEY_Y", 16, 0, 0},
    {20, "KEY_T", 17, 0, 0},
    {2, "KEY_1", 18, 0, 0},
    {3, "KEY_2", 19, 0, 0},
    {4, "KEY_3", 20, 0, 0},
    {5, "KEY_4", 21, 0, 0},
    {7, "KEY_6", 22, 0, 0},
    {6, "KEY_5", 23, 0, 0},
    {13, "KEY_EQUAL", 24, 0, 0},
    {10, "KEY_9", 25, 0, 0},
    {8, "KEY_7", 26, 0, 0},
    {12, "KEY_MINUS", 27, 0, 0},
    {9, "KEY_8", 28, 0, 0},
    {11, "KEY_0", 29, 0, 0},
    {27, "KEY_RIGHTBRACE", 30, 0, 0},
    {24, "KEY_O", 31, 0, 0},
    {22, "KEY_U", 32, 0, 0},
    {26, "KEY_LEFTBRACE", 33, 0, 0},
    {23, "KEY_I", 34, 0, 0},
    {25, "KEY_P", 35, 0, 0},
    {28, "KEY_ENTER", 36, 0, 0x000D},
    {38, "KEY_L", 37, 0, 0},
    {36, "KEY_J", 38, 0, 0},
    {40, "KEY_APOSTROPHE", 39, 0, 0},
    {37, "KEY_K", 40, 0, 0},
    {39, "KEY_SEMICOLON", 41, 0, 0},
    {43, "KEY_BACKSLASH", 42, 0, 0},
    {51, "KEY_COMMA", 43, 0, 0},
    {53, "KEY_SLASH", 44, 0, 0},
    {49, "KEY_N", 45, 0, 0},
    {50, "KEY_M", 46, 0, 0},
    {52, "KEY_DOT", 47, 0, 0},
    {15, "KEY_TAB", 48, 0, 0x0009},
    {57, "KEY_SPACE", 49, 0, 0x0020},
    {41, "KEY_GRAVE", 50, 0, 0},
    {14, "KEY_BACKSPACE", 51, 0, 0x007F},
    {1, "KEY_ESC", 53, 0, 0x001B},
    {126, "KEY_RIGHTMETA", 54, 0, 0},
    {125, "KEY_LEFTMETA", 55, 0, 0},
    {42, "KEY_LEFTSHIFT", 56, 0, 0},
    {58, "KEY_CAPSLOCK", 57, 0, 0},
    {56, "KEY_LEFTALT", 58, 0, 0},
    {29, "KEY_LEFTCTRL", 59, 0, 0},
    {54, "KEY_RIGHTSHIFT", 60, 0, 0},
    {100, "KEY_RIGHTALT", 61, 0, 0},
    {97, "KEY_RIGHTCTRL", 62, 0, 0},
    {83, "KEY_KPDOT", 65, 0x200000, 0},
    {55, "KEY_KPASTERISK", 67, 0x200000, 0},
    {78, "KEY_KPPLUS", 69, 0x200000, 0},
    {69, "KEY_NUMLOCK", 71, 0x200000, 0xF739},
    {98, "KEY_KPSLASH", 75, 0x200000, 0},
    {96, "KEY_KPENTER", 76, 0x200000, 0x0003},
    {74, "KEY_KPMINUS", 78, 0x200000, 0},
    {117, "KEY_KPEQUAL", 81, 0x200000, 0},
    {82, "KEY_KP0", 82, 0x200000, 0},
    {79, "KEY_KP1", 83, 0x200000, 0},
    {80, "KEY_KP2", 84, 0x200000, 0},
    {81, "KEY_KP3", 85, 0x200000, 0},
    {75, "KEY_KP4", 86, 0x200000, 0},
    {76, "KEY_KP5", 87, 0x200000, 0},
    {77, "KEY_KP6", 88, 0x200000, 0},
    {71, "KEY_KP7", 89, 0x200000, 0},
    {72, "KEY_KP8", 91, 0x200000, 0},
    {73, "KEY_KP9", 92, 0x200000, 0},
    {59, "KEY_F1", 122, 0x800000, 0xF704},
    {60, "KEY_F2", 120, 0x800000, 0xF705},
    {61, "KEY_F3", 99, 0x800000, 0xF706},
    {62, "KEY_F4", 118, 0x800000, 0xF707},
    {63, "KEY_F5", 96, 0x800000, 0xF708},
    {64, "KEY_F6", 97, 0x800000, 0xF709},
    {65, "KEY_F7", 98, 0x800000, 0xF70A},
    {66, "KEY_F8", 100, 0x800000, 0xF70B},
    {67, "KEY_F9", 101, 0x800000, 0xF70C},
    {68, "KEY_F10", 109, 0x800000, 0xF70D},
    {87, "KEY_F11", 103, 0x800000, 0xF70E},
    {88, "KEY_F12", 111, 0x800000, 0xF70F},
    {183, "KEY_F13", 105, 0x800000, 0xF710},
    {184, "KEY_F14", 107, 0x800000, 0xF711},
    {185, "KEY_F15", 113, 0x800000, 0xF712},
    {186, "KEY_F16", 106, 0x800000, 0xF713},
    {187, "KEY_F17", 64, 0x800000, 0xF714},
    {188, "KEY_F18", 79, 0x800000, 0xF715},
    {189, "KEY_F19", 80, 0x800000, 0xF716},
    {190, "KEY_F20", 90, 0x800000, 0xF717},
    {110, "KEY_INSERT", 114, 0x800000, 0xF746},
    {102, "KEY_HOME", 115, 0x800000, 0xF729},
    {104, "KEY_PAGEUP", 116, 0x800000, 0xF72C},
    {111, "KEY_DELETE", 117, 0x800000, 0xF728},
    {107, "KEY_END", 119, 0x800000, 0xF72B},
    {109, "KEY_PAGEDOWN", 121, 0x800000, 0xF72D},
    {105, "KEY_LEFT", 123, 0xA00000, 0xF702},
    {106, "KEY_RIGHT", 124, 0xA00000, 0xF703},
    {108, "KEY_DOWN", 125, 0xA00000, 0xF701},
    {103, "KEY_UP", 126, 0xA00000, 0xF700},
    {86, "KEY_102ND", 10, 0, 0},
    {127, "KEY_COMPOSE", 110, 0, 0},
    {113, "KEY_MUTE", 74, 0, 0},
    {114, "KEY_VOLUMEDOWN", 73, 0, 0},
    {115, "KEY_VOLUMEUP", 72, 0, 0},
};

bool isModifier(std::uint16_t vk) { return plat::KeyCode::isModifierKey(vk); }

TEST(IBusKeyMap, EveryKeyOfTheTableMapsToItsCodeFlagsAndCharacters) {
    for (const Row& r : kKeys) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(virtualKeyCode(r.evdev), r.vk);
        if (isModifier(r.vk)) continue;
        // A press with no modifier: the key's own flags, its special
        // character or else the keyval's text.
        auto key = transition(r.evdev, 0, "x");
        ASSERT_TRUE(key);
        EXPECT_EQ(key->keyCode, r.vk);
        EXPECT_TRUE(key->pressed);
        EXPECT_EQ(key->flags, r.own);
        EXPECT_EQ(key->characters, r.special ? utf8(r.special) : std::string("x"));
        // The same key with shift and control held, and Num Lock on (dropped).
        auto shifted = transition(r.evdev, kShiftMask | kControlMask | kMod2Mask, "X");
        ASSERT_TRUE(shifted);
        EXPECT_EQ(shifted->flags, r.own | Flag::shift | Flag::control);
        // Its release is a release of the same code.
        auto up = transition(r.evdev, kReleaseMask, "x");
        ASSERT_TRUE(up);
        EXPECT_FALSE(up->pressed);
        EXPECT_EQ(up->keyCode, r.vk);
    }
}

TEST(IBusKeyMap, CodesOutsideTheTableGiveNothing) {
    for (std::uint32_t code : {0u, 84u, 120u, 199u, 200u, 255u, 0xFFFFu})
        EXPECT_FALSE(transition(code, 0, "a")) << code;
}

TEST(IBusKeyMap, StateBitsBecomeModifierFlags) {
    struct Case {
        std::uint32_t state;
        std::uint64_t flags;
    };
    const Case cases[] = {
        {0, 0},
        {kShiftMask, Flag::shift},
        {kLockMask, Flag::capsLock},
        {kControlMask, Flag::control},
        {kMod1Mask, Flag::option},
        {kMod4Mask, Flag::command},
        {kSuperMask, Flag::command},
        {kMod4Mask | kSuperMask, Flag::command},
        {kMod2Mask, 0},                 // Num Lock
        {kMod5Mask, 0},                 // AltGr level
        {1u << 8, 0},                   // a mouse button
        {1u << 24 | 1u << 25, 0},       // IBus's handled and forwarded bits
        {kShiftMask | kLockMask | kControlMask | kMod1Mask | kMod4Mask,
         Flag::shift | Flag::capsLock | Flag::control | Flag::option | Flag::command},
    };
    for (const auto& c : cases) EXPECT_EQ(modifierFlags(c.state), c.flags) << c.state;
}

// Modifier keys arrive with the state before the event; the controller
// expects the flags after it, as one flags-changed event per change.
TEST(IBusKeyMap, ModifierKeysCarryTheFlagsAfterTheirChange) {
    struct Case {
        const char* what;
        std::uint32_t evdev;
        std::uint32_t state;
        std::optional<std::uint64_t> flags;  // none: nothing to send
    };
    const Case cases[] = {
        {"shift down", 42, 0, Flag::shift},
        {"shift up", 42, kShiftMask | kReleaseMask, 0},
        {"right shift down", 54, 0, Flag::shift},
        {"control down", 29, 0, Flag::control},
        {"control up", 29, kControlMask | kReleaseMask, 0},
        {"right control down", 97, 0, Flag::control},
        {"alt down", 56, 0, Flag::option},
        {"right alt up", 100, kMod1Mask | kReleaseMask, 0},
        {"super down", 125, 0, Flag::command},
        {"right super up", 126, kMod4Mask | kSuperMask | kReleaseMask, 0},
        {"shift down while control held", 42, kControlMask, Flag::shift | Flag::control},
        {"shift up while control held", 42, kShiftMask | kControlMask | kReleaseMask, Flag::control},
        {"caps lock on", 58, 0, Flag::capsLock},
        {"caps lock off", 58, kLockMask, 0},
        {"caps lock release", 58, kLockMask | kReleaseMask, std::nullopt},
        {"shift down with Num Lock on", 42, kMod2Mask, Flag::shift},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto key = transition(c.evdev, c.state, "");
        ASSERT_EQ(key.has_value(), c.flags.has_value());
        if (!key) continue;
        EXPECT_EQ(key->flags, *c.flags);
        EXPECT_FALSE(key->characters);
    }
}

TEST(IBusKeyMap, ModifierTapBecomesTwoFlagsChangedEventsAndReleasesOfOtherKeysAreNotHandled) {
    // What the server makes of the transitions: a controller that records.
    struct Recorder : plat::InputController {
        std::vector<plat::KeyEvent>* seen;
        explicit Recorder(std::vector<plat::KeyEvent>* s) : seen(s) {}
        bool handleEvent(const plat::KeyEvent& e, plat::TextInputClient*) override {
            seen->push_back(e);
            return true;
        }
    };
    std::vector<plat::KeyEvent> seen;
    plat::InputMethodServer server("c", "b", [&](plat::InputMethodServer&, plat::TextInputClient*) {
        return std::make_unique<Recorder>(&seen);
    });
    plat::ScriptedClient client;
    server.focusIn(client);
    const struct {
        std::uint32_t evdev, state;
        bool handled;
    } steps[] = {
        {42, 0, true},                               // shift down
        {30, kShiftMask, true},                      // A
        {30, kShiftMask | kReleaseMask, false},      // A up: never sent
        {42, kShiftMask | kReleaseMask, true},       // shift up
    };
    for (const auto& s : steps) {
        auto key = transition(s.evdev, s.state, "A");
        ASSERT_TRUE(key);
        EXPECT_EQ(server.handleKey(client, *key), s.handled);
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].type, plat::EventType::flagsChanged);
    EXPECT_EQ(seen[0].keyCode, plat::KeyCode::shift);
    EXPECT_EQ(seen[0].modifierFlags, Flag::shift);
    EXPECT_EQ(seen[1].type, plat::EventType::keyDown);
    EXPECT_EQ(seen[1].keyCode, 0);
    EXPECT_EQ(seen[1].modifierFlags, Flag::shift);
    EXPECT_EQ(seen[1].characters, std::string("A"));
    EXPECT_EQ(seen[2].type, plat::EventType::flagsChanged);
    EXPECT_EQ(seen[2].modifierFlags, 0u);
}

} // namespace

namespace {

// Keys the input method sends back to the client (caret commands, delete,
// home and end) go out as the keyval and evdev code the client expects, and
// map back to the same virtual key.
TEST(IBusKeyMap, ForwardedKeysRoundTrip) {
    const struct {
        std::uint16_t vk;
        std::uint32_t keyval, evdev;
    } cases[] = {
        {123, 0xff51, 105}, {124, 0xff53, 106}, {125, 0xff54, 108}, {126, 0xff52, 103},
        {51, 0xff08, 14},   {36, 0xff0d, 28},   {115, 0xff50, 102}, {119, 0xff57, 107},
        {116, 0xff55, 104}, {121, 0xff56, 109}, {117, 0xffff, 111}, {53, 0xff1b, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vk);
        auto key = forwardKey(c.vk);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->keyval, c.keyval);
        EXPECT_EQ(key->evdevCode, c.evdev);
        EXPECT_EQ(virtualKeyCode(key->evdevCode), c.vk);
    }
    EXPECT_FALSE(forwardKey(0));    // a letter
    EXPECT_FALSE(forwardKey(200));  // unknown
}

} // namespace

namespace {

// The characters a key carries under every modifier combination: control
// makes letters (and [ \ ] ^ _) their control character, so that no
// shortcut types a letter; alt and super keep what the keyval types.
TEST(IBusKeyMap, CharactersFollowTheModifiersAsTheControllerExpects) {
    constexpr std::uint32_t A = 30, C = 46, V = 47, X = 45, Z = 44, S = 31, F = 33, H = 35, One = 2,
                            Two = 3, LeftBrace = 26, RightBrace = 27, Backslash = 43, Comma = 51, Dot = 52,
                            Slash = 53, Minus = 12, Space = 57, Enter = 28, Esc = 1;
    constexpr std::uint32_t Ctl = kControlMask, Sh = kShiftMask, Alt = kMod1Mask, Sup = kMod4Mask | kSuperMask;
    struct Case {
        std::uint32_t evdev;
        std::uint32_t state;
        const char* typed;  // what the keyval types
        const char* characters;
        std::uint64_t flags;
    };
    const Case cases[] = {
        {A, 0, "a", "a", 0},
        {A, Sh, "A", "A", Flag::shift},
        {A, kLockMask, "A", "A", Flag::capsLock},
        {A, Ctl, "a", "\x01", Flag::control},
        {C, Ctl, "c", "\x03", Flag::control},
        {V, Ctl, "v", "\x16", Flag::control},
        {X, Ctl, "x", "\x18", Flag::control},
        {Z, Ctl, "z", "\x1a", Flag::control},
        {S, Ctl, "s", "\x13", Flag::control},
        {F, Ctl, "f", "\x06", Flag::control},
        {H, Ctl, "h", "\x08", Flag::control},
        {A, Ctl | Sh, "A", "\x01", Flag::control | Flag::shift},
        {A, Ctl | kLockMask, "A", "\x01", Flag::control | Flag::capsLock},
        {A, Ctl | Alt, "a", "\x01", Flag::control | Flag::option},
        {A, Ctl | Sup, "a", "\x01", Flag::control | Flag::command},
        {A, Ctl | kMod2Mask, "a", "\x01", Flag::control},  // Num Lock on
        {A, Ctl, "\xD1\x84", "\xD1\x84", Flag::control},    // a Cyrillic layout: not ASCII, kept
        {A, Alt, "a", "a", Flag::option},
        {A, Alt | Sh, "A", "A", Flag::option | Flag::shift},
        {A, Sup, "a", "a", Flag::command},
        {A, Sup | Sh, "A", "A", Flag::command | Flag::shift},
        {C, Sup, "c", "c", Flag::command},
        {A, kMod5Mask, "\xC3\xA6", "\xC3\xA6", 0},  // AltGr: the keyval's own letter
        {One, Ctl, "1", "1", Flag::control},        // Control+digit stays the digit
        {Two, Ctl | Sh, "@", "@", Flag::control | Flag::shift},
        {LeftBrace, Ctl, "[", "\x1b", Flag::control},
        {RightBrace, Ctl, "]", "\x1d", Flag::control},
        {Backslash, Ctl, "\\", "\x1c", Flag::control},
        {Minus, Ctl | Sh, "_", "\x1f", Flag::control | Flag::shift},
        {Minus, Ctl, "-", "-", Flag::control},
        {Comma, Ctl, ",", ",", Flag::control},
        {Dot, Ctl, ".", ".", Flag::control},
        {Slash, Ctl | Sh, "?", "?", Flag::control | Flag::shift},
        {Space, Ctl, " ", " ", Flag::control},
        {Enter, Ctl, "\r", "\r", Flag::control},
        {Esc, Ctl, "", "\x1b", Flag::control},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.evdev) + " state " + std::to_string(c.state) + " typed " + c.typed);
        const auto key = transition(c.evdev, c.state, c.typed);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->characters, std::string(c.characters));
        EXPECT_EQ(key->flags, c.flags);
    }
}

} // namespace
