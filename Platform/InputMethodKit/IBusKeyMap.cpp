#include "Platform/InputMethodKit/IBusKeyMap.h"

#include "Platform/InputMethodKit/KeyEvent.h"
#include "Platform/InputMethodKit/UsKeyboard.h"

#include <array>

namespace plat::ibuskeys {
namespace {

constexpr std::uint16_t kNone = 0xFFFF;

// evdev code -> virtual key code, for codes below 200.
constexpr std::array<std::uint16_t, 200> buildTable() {
    std::array<std::uint16_t, 200> t{};
    for (auto& v : t) v = kNone;
    struct P { std::uint16_t evdev, vk; };
    constexpr P pairs[] = {
        {30, 0},   {31, 1},   {32, 2},   {33, 3},   {35, 4},   {34, 5},   {44, 6},   {45, 7},
        {46, 8},   {47, 9},   {48, 11},  {16, 12},  {17, 13},  {18, 14},  {19, 15},  {21, 16},
        {20, 17},  {2, 18},   {3, 19},   {4, 20},   {5, 21},   {7, 22},   {6, 23},   {13, 24},
        {10, 25},  {8, 26},   {12, 27},  {9, 28},   {11, 29},  {27, 30},  {24, 31},  {22, 32},
        {26, 33},  {23, 34},  {25, 35},  {28, 36},  {38, 37},  {36, 38},  {40, 39},  {37, 40},
        {39, 41},  {43, 42},  {51, 43},  {53, 44},  {49, 45},  {50, 46},  {52, 47},  {15, 48},
        {57, 49},  {41, 50},  {14, 51},  {1, 53},   {126, 54}, {125, 55}, {42, 56},  {58, 57},
        {56, 58},  {29, 59},  {54, 60},  {100, 61}, {97, 62},  {83, 65},  {55, 67},  {78, 69},
        {69, 71},  {98, 75},  {96, 76},  {74, 78},  {117, 81}, {82, 82},  {79, 83},  {80, 84},
        {81, 85},  {75, 86},  {76, 87},  {77, 88},  {71, 89},  {72, 91},  {73, 92},  {59, 122},
        {60, 120}, {61, 99},  {62, 118}, {63, 96},  {64, 97},  {65, 98},  {66, 100}, {67, 101},
        {68, 109}, {87, 103}, {88, 111}, {183, 105}, {184, 107}, {185, 113}, {186, 106},
        {187, 64}, {188, 79}, {189, 80}, {190, 90}, {110, 114}, {102, 115}, {104, 116},
        {111, 117}, {107, 119}, {109, 121}, {105, 123}, {106, 124}, {108, 125}, {103, 126},
        {86, 10},  {127, 110}, {113, 74}, {114, 73}, {115, 72},
    };
    for (const auto& p : pairs) t[p.evdev] = p.vk;
    return t;
}

constexpr auto kTable = buildTable();

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

// The flag a modifier key itself holds while down.
std::uint64_t modifierKeyFlag(std::uint16_t vk) {
    namespace F = ModifierFlag;
    switch (vk) {
    case KeyCode::shift:
    case KeyCode::rightShift: return F::shift;
    case KeyCode::control:
    case KeyCode::rightControl: return F::control;
    case KeyCode::option:
    case KeyCode::rightOption: return F::option;
    case KeyCode::command:
    case KeyCode::rightCommand: return F::command;
    case KeyCode::capsLock: return F::capsLock;
    default: return 0;
    }
}

} // namespace

std::optional<std::uint16_t> virtualKeyCode(std::uint32_t evdevCode) {
    if (evdevCode >= kTable.size() || kTable[evdevCode] == kNone) return std::nullopt;
    return kTable[evdevCode];
}

std::uint64_t keyOwnFlags(std::uint16_t vk) {
    namespace F = ModifierFlag;
    if (vk >= KeyCode::leftArrow && vk <= KeyCode::upArrow) return F::arrowKey;
    switch (vk) {
    case 65: case 67: case 69: case 71: case 75: case 76: case 78: case 81:
    case 82: case 83: case 84: case 85: case 86: case 87: case 88: case 89: case 91: case 92:
        return F::numericPad;
    case 122: case 120: case 99: case 118: case 96: case 97: case 98: case 100: case 101:
    case 109: case 103: case 111: case 105: case 107: case 113: case 106: case 64: case 79:
    case 80: case 90: case 114: case 115: case 116: case 117: case 119: case 121:
        return F::function;
    default: return 0;
    }
}

std::optional<std::string> specialKeyCharacters(std::uint16_t vk) {
    switch (vk) {
    case KeyCode::returnKey: return utf8(0x0D);
    case KeyCode::tab: return utf8(0x09);
    case KeyCode::space: return utf8(0x20);
    case KeyCode::deleteKey: return utf8(0x7F);
    case KeyCode::escape: return utf8(0x1B);
    case KeyCode::keypadEnter: return utf8(0x03);
    case 71: return utf8(0xF739);
    case KeyCode::upArrow: return utf8(0xF700);
    case KeyCode::downArrow: return utf8(0xF701);
    case KeyCode::leftArrow: return utf8(0xF702);
    case KeyCode::rightArrow: return utf8(0xF703);
    case 114: return utf8(0xF746);
    case KeyCode::home: return utf8(0xF729);
    case KeyCode::pageUp: return utf8(0xF72C);
    case KeyCode::forwardDelete: return utf8(0xF728);
    case KeyCode::end: return utf8(0xF72B);
    case KeyCode::pageDown: return utf8(0xF72D);
    default: break;
    }
    // F1-F20 type U+F704 onwards.
    static constexpr std::uint16_t fkeys[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                              103, 111, 105, 107, 113, 106, 64, 79, 80, 90};
    for (std::size_t i = 0; i < std::size(fkeys); ++i)
        if (fkeys[i] == vk) return utf8(0xF704 + static_cast<char32_t>(i));
    return std::nullopt;
}

std::uint64_t modifierFlags(std::uint32_t state) {
    namespace F = ModifierFlag;
    std::uint64_t flags = 0;
    if (state & kShiftMask) flags |= F::shift;
    if (state & kLockMask) flags |= F::capsLock;
    if (state & kControlMask) flags |= F::control;
    if (state & kMod1Mask) flags |= F::option;
    if (state & (kMod4Mask | kSuperMask)) flags |= F::command;
    return flags;
}

std::optional<KeyTransition> transition(std::uint32_t evdevCode, std::uint32_t state, const std::string& text) {
    const auto vk = virtualKeyCode(evdevCode);
    if (!vk) return std::nullopt;
    KeyTransition key;
    key.keyCode = *vk;
    key.pressed = (state & kReleaseMask) == 0;
    const std::uint64_t before = modifierFlags(state);
    if (KeyCode::isModifierKey(*vk)) {
        const std::uint64_t own = modifierKeyFlag(*vk);
        if (*vk == KeyCode::capsLock) {
            // Caps lock changes the flags once per press.
            if (!key.pressed) return std::nullopt;
            key.flags = before ^ own;
        } else {
            key.flags = key.pressed ? (before | own) : (before & ~own);
        }
        return key;
    }
    key.flags = before | keyOwnFlags(*vk);
    if (auto special = specialKeyCharacters(*vk)) key.characters = std::move(special);
    else if (!text.empty()) key.characters = (state & kControlMask) ? UsKeyboard::controlCharacters(text) : text;
    return key;
}

} // namespace plat::ibuskeys

namespace plat::ibuskeys {

std::optional<ForwardKey> forwardKey(std::uint16_t vk) {
    std::uint32_t keyval = 0;
    switch (vk) {
    case KeyCode::returnKey: keyval = 0xff0d; break;
    case KeyCode::tab: keyval = 0xff09; break;
    case KeyCode::deleteKey: keyval = 0xff08; break;
    case KeyCode::escape: keyval = 0xff1b; break;
    case KeyCode::home: keyval = 0xff50; break;
    case KeyCode::leftArrow: keyval = 0xff51; break;
    case KeyCode::upArrow: keyval = 0xff52; break;
    case KeyCode::rightArrow: keyval = 0xff53; break;
    case KeyCode::downArrow: keyval = 0xff54; break;
    case KeyCode::pageUp: keyval = 0xff55; break;
    case KeyCode::pageDown: keyval = 0xff56; break;
    case KeyCode::end: keyval = 0xff57; break;
    case KeyCode::forwardDelete: keyval = 0xffff; break;
    default: return std::nullopt;
    }
    for (std::uint32_t evdev = 0; evdev < kTable.size(); ++evdev)
        if (kTable[evdev] == vk) return ForwardKey{keyval, evdev};
    return std::nullopt;
}

} // namespace plat::ibuskeys
