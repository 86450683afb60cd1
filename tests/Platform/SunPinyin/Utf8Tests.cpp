#include "Platform/SunPinyin/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Utf8FromUcs4, EncodesEveryLengthAndReplacesInvalidValues)
{
    struct Case {
        std::vector<unsigned> codePoints;
        std::string utf8;
    } cases[] = {
        {{}, ""},
        {{'a', 'Z', '\''}, "aZ'"},
        {{0x00E9}, "\xC3\xA9"},                 // é: two bytes
        {{0x4F60, 0x597D}, "你好"},             // three bytes each
        {{0x3007}, "〇"},
        {{0x1F600}, "\xF0\x9F\x98\x80"},        // four bytes
        {{0x10FFFF}, "\xF4\x8F\xBF\xBF"},
        {{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000}, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"},
        {{0xD800, 'x', 0xDFFF}, "\xEF\xBF\xBDx\xEF\xBF\xBD"},  // lone surrogates
        {{0x110000, 0xFFFFFFFF}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // beyond Unicode
        {{'a', 0, 'b'}, "a"},                   // NUL ends the text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::utf8FromUcs4(c.codePoints.data(), c.codePoints.size()), c.utf8);
    }
}
