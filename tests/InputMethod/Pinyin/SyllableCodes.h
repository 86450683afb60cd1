#pragma once
// Syllable codes by spelling, for writing expected results in tests.
#include "InputMethod/Core/PyString.h"

#include <initializer_list>
#include <vector>

namespace taviro::test {

inline int code(const char* text) { return *PyString::syllableCodeForText(text); }

inline std::vector<int> codes(std::initializer_list<const char*> texts) {
    std::vector<int> out;
    for (const char* t : texts) out.push_back(code(t));
    return out;
}

} // namespace taviro::test
