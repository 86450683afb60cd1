#include "Platform/Foundation/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Utf8, EncodesEachLengthAndDecodesBack) {
    const struct {
        char32_t cp;
        const char* bytes;
    } cases[] = {
        {U'a', "a"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {U'中', "\xE4\xB8\xAD"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::encodeUtf8(c.cp), c.bytes) << std::hex << static_cast<unsigned>(c.cp);
        auto back = plat::decodeUtf8(c.bytes);
        ASSERT_TRUE(back) << std::hex << static_cast<unsigned>(c.cp);
        EXPECT_EQ(*back, std::vector<char32_t>{c.cp});
    }
    std::string joined = "x";
    plat::appendUtf8(joined, U'国');
    EXPECT_EQ(joined, "x国");
}

TEST(Utf8, RejectsMalformedSequencesWithoutMoving) {
    const struct {
        std::string bytes;
        const char* why;
    } cases[] = {
        {"\x80", "stray continuation byte"},
        {"\xC0\x80", "overlong NUL"},
        {"\xC1\xBF", "overlong two-byte"},
        {"\xE0\x9F\xBF", "overlong three-byte"},
        {"\xF0\x8F\xBF\xBF", "overlong four-byte"},
        {"\xED\xA0\x80", "high surrogate"},
        {"\xED\xBF\xBF", "low surrogate"},
        {"\xF4\x90\x80\x80", "above U+10FFFF"},
        {"\xF5\x80\x80\x80", "lead byte beyond F4"},
        {"\xFF", "never a lead byte"},
        {"\xE4\xB8", "cut short"},
        {"\xE4\x41\xAD", "continuation missing"},
    };
    for (const auto& c : cases) {
        std::size_t i = 0;
        EXPECT_FALSE(plat::nextCodePoint(c.bytes, i)) << c.why;
        EXPECT_EQ(i, 0u) << c.why;
        EXPECT_FALSE(plat::decodeUtf8("ok" + c.bytes)) << c.why;
        EXPECT_FALSE(plat::isValidUtf8(c.bytes + "ok")) << c.why;
    }
    std::size_t end = 0;
    EXPECT_FALSE(plat::nextCodePoint("", end));
    EXPECT_TRUE(plat::isValidUtf8(""));
    EXPECT_EQ(plat::decodeUtf8(""), std::vector<char32_t>{});
}

} // namespace
