#include "Platform/InputMethodKit/UsKeyboard.h"

#include <string>

namespace plat {
namespace {

struct KeyChars {
    std::uint16_t code;
    char plain;
    char shifted;
};

// Printing keys of the US layout.
constexpr KeyChars kKeys[] = {
    {0, 'a', 'A'},   {1, 's', 'S'},   {2, 'd', 'D'},   {3, 'f', 'F'},   {4, 'h', 'H'},
    {5, 'g', 'G'},   {6, 'z', 'Z'},   {7, 'x', 'X'},   {8, 'c', 'C'},   {9, 'v', 'V'},
    {11, 'b', 'B'},  {12, 'q', 'Q'},  {13, 'w', 'W'},  {14, 'e', 'E'},  {15, 'r', 'R'},
    {16, 'y', 'Y'},  {17, 't', 'T'},  {18, '1', '!'},  {19, '2', '@'},  {20, '3', '#'},
    {21, '4', '$'},  {22, '6', '^'},  {23, '5', '%'},  {24, '=', '+'},  {25, '9', '('},
    {26, '7', '&'},  {27, '-', '_'},  {28, '8', '*'},  {29, '0', ')'},  {30, ']', '}'},
    {31, 'o', 'O'},  {32, 'u', 'U'},  {33, '[', '{'},  {34, 'i', 'I'},  {35, 'p', 'P'},
    {37, 'l', 'L'},  {38, 'j', 'J'},  {39, '\'', '"'}, {40, 'k', 'K'},  {41, ';', ':'},
    {42, '\\', '|'}, {43, ',', '<'},  {44, '/', '?'},  {45, 'n', 'N'},  {46, 'm', 'M'},
    {47, '.', '>'},  {50, '`', '~'},
};

} // namespace

std::optional<UsKeyboard::Stroke> UsKeyboard::strokeFor(char c) {
    if (c == ' ') return Stroke{KeyCode::space, false};
    if (c == '\n' || c == '\r') return Stroke{KeyCode::returnKey, false};
    if (c == '\t') return Stroke{KeyCode::tab, false};
    for (const auto& k : kKeys) {
        if (k.plain == c) return Stroke{k.code, false};
        if (k.shifted == c) return Stroke{k.code, true};
    }
    return std::nullopt;
}

std::optional<KeyEvent> UsKeyboard::keyDownFor(char c) {
    const auto stroke = strokeFor(c);
    if (!stroke) return std::nullopt;
    std::string chars(1, c == '\n' ? '\r' : c);
    return KeyEvent::keyDown(stroke->keyCode, stroke->shift ? ModifierFlag::shift : 0, chars);
}

std::string UsKeyboard::controlCharacters(const std::string& typed) {
    if (typed.size() != 1) return typed;
    const char c = typed[0];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= '_' && c != '@')) return std::string(1, static_cast<char>(c & 0x1F));
    return typed;
}

} // namespace plat
