#include "InputMethod/Core/Color.h"
#include "InputMethod/Core/Settings.h"

#include <gtest/gtest.h>

#include <string>

namespace taviro {
namespace {

TEST(Color, HexString) {
    const struct {
        Color color;
        std::string expected;
    } cases[] = {
        {Color::black(), "000000"},
        {Color::white(), "FFFFFF"},
        {Color::rgb(1.0, 0.5, 0.0), "FF7F00"},
        {Color::rgb(0.1, 0.2, 0.3, 0.0), "19334C"},
        {Color::grey(0.5, 0.25), "7F7F7F"},
        {Color({0.2, 0.4, 0.6}), "333333"}, // fewer than four: the first for all
        {Color({0.999}), "FEFEFE"},         // truncated, not rounded
        {Color::rgb(1.2, -0.1, 0.5), "FF007F"},
        {Color(), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.color.hexString(), c.expected);
}

TEST(Color, CandidateColourDefaultsAreBlackAndWhite) {
    const Settings defaults;
    EXPECT_EQ(std::stoll(Color::black().hexString(), nullptr, 16), defaults.candidateFontColorLight);
    EXPECT_EQ(std::stoll(Color::white().hexString(), nullptr, 16), defaults.candidateFontColorDark);
}

} // namespace
} // namespace taviro
