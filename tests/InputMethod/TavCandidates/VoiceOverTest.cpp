#include "CandidateFixture.h"

#include "Platform/Foundation/Plist.h"

#include <cstdlib>

namespace taviro::test {
namespace {

// A bundle folder with both explanation libraries.
class VoiceOver : public CandidateFixture {
protected:
    void SetUp() override {
        const auto bundle = freshDir("bundle");
        plat::writePlistFile(bundle / "VoiceOverLib 2.plist",
                             plat::stringMapToPlist({{"你", "你好的你"}, {"好", "好人的好"}, {"中", "中间的中"}}));
        plat::writePlistFile(bundle / "VoiceOverLib.plist", plat::stringMapToPlist({{"你", "人字旁你"}}));
        setenv("TAVIRO_RESOURCES", bundle.c_str(), 1);
        CandidateCell::resetVoiceOverCache();
    }
    void TearDown() override {
        unsetenv("TAVIRO_RESOURCES");
        CandidateCell::resetVoiceOverCache();
    }

    std::string spoken(const std::string& text) {
        auto w = make<CandidatesHController>();
        delegate.list = {text};
        w->showAtCaret(&client);
        return w->visiableCandidateCells()[0]->accessibilityLabel();
    }
};

TEST_F(VoiceOver, Descriptions) {
    struct Case {
        std::string text;
        bool wordOnly;
        std::string expected;
    };
    const Case cases[] = {
        {"你好", false, "你好的你，好人的好，"},
        {"中国人", false, "中国人，中间的中，"},
        {"中国人", true, "中间的中，"},
        {"你好dj%dA8.Cnh", false, "你好的你，好人的好，"}, // the hint is never spoken
        {"abc", false, "abc，"},                          // no explanations: the word
        {"ab", false, "ab"},
        {"abc", true, "abc"},
        {"", false, ""},        // no word: the candidate unchanged
        {"   ", false, "   "},
        {"dj%dA8.C", false, "dj%dA8.C"},
    };
    for (const auto& c : cases) {
        set([&](Settings& s) { s.voiceOverWordOnly = c.wordOnly; });
        EXPECT_EQ(spoken(c.text), c.expected) << "[" << c.text << "] " << c.wordOnly;
    }
}

TEST_F(VoiceOver, LibraryFollowsTheVersionSetting) {
    EXPECT_EQ(spoken("你"), "你好的你，");
    set([](Settings& s) { s.voiceOverLibVersion = 1; });
    EXPECT_EQ(spoken("你"), "人字旁你，");
    set([](Settings& s) { s.voiceOverLibVersion = 7; }); // no such library
    EXPECT_EQ(spoken("你"), "你");
    set([](Settings& s) { s.voiceOverLibVersion = 0; });
    EXPECT_EQ(spoken("你"), "你好的你，");
}

TEST_F(VoiceOver, MissingLibrarySpeaksTheWord) {
    setenv("TAVIRO_RESOURCES", freshDir("empty").c_str(), 1);
    CandidateCell::resetVoiceOverCache();
    EXPECT_EQ(spoken("你好"), "你好");
}

TEST(CandidateColorsTest, ConfiguredValuesAndHexForms) {
    EXPECT_EQ(CandidateColors::fromRgbValue(0xFF0000).hexString(), "FF0000");
    EXPECT_EQ(CandidateColors::fromRgbValue(0x7F7F7F0A0B0C).hexString(), "0A0B0C");
    EXPECT_EQ(Color::grey(0.5).hexString(), "7F7F7F");
    EXPECT_EQ(Color::rgb(2.0, -1.0, 0.5).hexString(), "FF007F"); // held to 0-255
}

} // namespace
} // namespace taviro::test

namespace taviro::test {
namespace {

TEST_F(CandidateFixture, DesktopAppearanceFollowsSkinColourAndTheOverride) {
    struct Case {
        long long skinColor;
        const char* forced; // TAVIRO_APPEARANCE, or none
        bool dark;
    };
    const Case cases[] = {{2, nullptr, true}, {1, nullptr, false}, {2, "light", false}, {1, "dark", true}};
    for (const auto& c : cases) {
        set([&](Settings& s) { s.skinColor = c.skinColor; });
        if (c.forced) setenv("TAVIRO_APPEARANCE", c.forced, 1);
        else unsetenv("TAVIRO_APPEARANCE");
        EXPECT_EQ(DesktopAppearance(&config).isDark(), c.dark) << c.skinColor << " " << (c.forced ? c.forced : "-");
    }
    unsetenv("TAVIRO_APPEARANCE");
}

} // namespace
} // namespace taviro::test
