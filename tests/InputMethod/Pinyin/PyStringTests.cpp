#include "InputMethod/Core/PyString.h"

#include <gtest/gtest.h>

#include <set>

namespace taviro {
namespace {

TEST(PyString, InventoryHasUniqueCodesAndTexts) {
    std::set<int> codes;
    std::set<std::string_view> texts;
    for (auto group : {PyString::allSyllables(), PyString::bareInitials()}) {
        for (const auto& e : group) {
            EXPECT_TRUE(codes.insert(e.code).second) << e.text;
            EXPECT_TRUE(texts.insert(e.text).second) << e.text;
            EXPECT_NE(e.code, 0);
            EXPECT_EQ(e.code & 0x40, 0) << e.text << " has bit 6 set";
            EXPECT_LE(e.code, 0x1720);
        }
    }
    EXPECT_EQ(PyString::allSyllables().size(), 413u);
    EXPECT_EQ(PyString::bareInitials().size(), 23u);
    EXPECT_EQ(codes.size(), 436u);
}

TEST(PyString, EveryEntryRoundTrips) {
    for (auto group : {PyString::allSyllables(), PyString::bareInitials()}) {
        for (const auto& e : group) {
            EXPECT_EQ(PyString::syllableCodeForText(e.text), e.code) << e.text;
            EXPECT_EQ(PyString::syllableTextForCode(e.code), e.text) << e.code;
            EXPECT_TRUE(PyString::isSyllableCode(e.code));
        }
    }
}

TEST(PyString, SyllableCodeIsInitialOrFinal) {
    // Every syllable's text is an initial's spelling (or none) followed by a
    // final's spelling, and its code joins the two.
    for (const auto& e : PyString::allSyllables()) {
        bool matched = false;
        if (auto f = PyString::finalIndexForText(e.text); f && *f == e.code) matched = true;
        for (const auto& initial : PyString::bareInitials()) {
            if (!e.text.starts_with(initial.text)) continue;
            auto f = PyString::finalIndexForText(e.text.substr(initial.text.size()));
            if (f && (initial.code | *f) == e.code) matched = true;
        }
        EXPECT_TRUE(matched) << e.text;
        EXPECT_FALSE(PyString::isBareInitialCode(e.code)) << e.text;
    }
}

TEST(PyString, KnownCodes) {
    const struct {
        const char* text;
        int code;
    } cases[] = {
        {"zhang", 0x0F8E}, {"chuang", 0x1095}, {"zhi", 0x0F9F}, {"shui", 0x1183},
        {"a", 28},         {"ai", 1},          {"er", 9},       {"eng", 15},
        {"lv", 0x0821},    {"nv", 0x0721},     {"lue", 0x0808}, {"nue", 0x0708},
        {"jue", 0x0C08},   {"yue", 0x1708},    {"ju", 0x0C20},  {"yo", 0x171D},
        {"wo", 0x161D},    {"fiao", 0x0418},   {"fong", 0x0411}, {"tei", 0x0602},
        {"yu", 0x1720},    {"b", 0x0100},      {"zh", 0x0F80},  {"ch", 0x1080},
        {"sh", 0x1180},    {"z", 0x0F00},      {"c", 0x1000},   {"s", 0x1100},
        {"y", 0x1700},     {"w", 0x1600},      {"r", 0x1200},   {"x", 0x0E00},
    };
    for (const auto& c : cases) EXPECT_EQ(PyString::syllableCodeForText(c.text), c.code) << c.text;
}

TEST(PyString, UnknownTextsAndCodes) {
    for (const char* text : {"", "Zhang", "lve", "nve", "jv", "qv", "xv", "yv", "lo", "zhei", "ng",
                             "ve", " a", "a ", "i", "v", "ong"})
        EXPECT_EQ(PyString::syllableCodeForText(text), std::nullopt) << text;
    for (int code : {0, -1, 0x40, 0x0F40, 0x1800, 0x0F8F + 33, 0x1300, 0x0100 | 9, 0x7FFFFFFF})
        EXPECT_EQ(PyString::syllableTextForCode(code), "") << code;
}

TEST(PyString, BareInitials) {
    for (int code : {0x0F80, 0x1700, 0x0100, 0x1100})
        EXPECT_TRUE(PyString::isBareInitialCode(code)) << code;
    for (int code : {0x0F8E, 0x001C, 0, -0x100, 0x1300, 0x0F40})
        EXPECT_FALSE(PyString::isBareInitialCode(code)) << code;
}

TEST(PyString, FinalIndices) {
    EXPECT_EQ(PyString::finalIndexForText("v"), 33);
    EXPECT_EQ(PyString::finalIndexForText("uang"), 21);
    EXPECT_EQ(PyString::finalIndexForText("ia"), 27);
    EXPECT_EQ(PyString::finalIndexForText("zhang"), std::nullopt);
    EXPECT_EQ(PyString::finalIndexForText(""), std::nullopt);
    EXPECT_EQ(PyString::allFinals().size(), 33u);
    for (std::size_t i = 0; i < PyString::allFinals().size(); ++i)
        EXPECT_EQ(PyString::allFinals()[i].code, static_cast<int>(i) + 1);
}

TEST(PyString, GroupLookupsKeepShape) {
    EXPECT_EQ(PyString::syllableCodesForTexts({{"zh", "zhang"}, {"lv"}, {}, {"ve", "a"}}),
              (std::vector<std::vector<int>>{{3968, 3982}, {2081}, {}, {0, 28}}));
    EXPECT_EQ(PyString::syllableTextsForCodes({{0x0F8E, 0, 0x0100}, {}}),
              (std::vector<std::vector<std::string>>{{"zhang", "", "b"}, {}}));
    EXPECT_TRUE(PyString::syllableCodesForTexts({}).empty());
    EXPECT_TRUE(PyString::syllableTextsForCodes({}).empty());
    // A text that is no syllable comes back empty, never as itself.
    EXPECT_EQ(PyString::syllableTextsForCodes(PyString::syllableCodesForTexts({{"xyz"}})),
              (std::vector<std::vector<std::string>>{{""}}));
}

} // namespace
} // namespace taviro
