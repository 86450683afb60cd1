#include "RecordingChannelFixture.h"
#include "Settings/ConfigManager.h"
#include "Settings/Pages/ColorValue.h"
#include "Settings/Pages/TabOneController.h"
#include "support/TestHome.h"

// The input method's side of "setFontSize" (a header of its own, no link).
#include "InputMethod/FontSize.h"

#include <fstream>
#include <iterator>

namespace kelvane {
namespace {

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Box = TabOneController::Box;
using PopUp = TabOneController::PopUp;

class GeneralTabTest : public test::RecordingChannelFixture {
protected:
    void SetUp() override {
        RecordingChannelFixture::SetUp();
        folder_ = taviro::test::freshDir("config");
        config_ = std::make_unique<ConfigManager>(folder_);
        page_ = std::make_unique<TabOneController>(*config_);
        page_->viewDidAppear();
    }
    std::unique_ptr<ConfigManager> saved() const { return std::make_unique<ConfigManager>(folder_); }

    std::filesystem::path folder_;
    std::unique_ptr<ConfigManager> config_;
    std::unique_ptr<TabOneController> page_;
};

TEST_F(GeneralTabTest, EachCheckBoxSavesItsSettingOncePerClick) {
    struct Case {
        Box box;
        bool ConfigManager::*field;
        bool inverted;
    } cases[] = {
        {Box::shiftToBoot, &ConfigManager::shiftToBoot, false},
        {Box::mixEnglishInput, &ConfigManager::mixEnglishInput, false},
        {Box::autoBlank, &ConfigManager::autoBlank, false},
        {Box::s2t, &ConfigManager::s2t, false},
        {Box::sjrqxq, &ConfigManager::sjrqxq, false},
        {Box::superJP, &ConfigManager::superSP, false},
        {Box::noEmojiCandidate, &ConfigManager::noEmoji, true},
        {Box::zRepeat, &ConfigManager::zRepeat, false},
        {Box::zFullSpell, &ConfigManager::zFullSpell, false},
        {Box::disableBootButton, &ConfigManager::disableBootButton, false},
        {Box::closeBootButtonSecond, &ConfigManager::closeBootButtonSecond, false},
        {Box::forceQwerty, &ConfigManager::forceQwerty, false},
        {Box::lockUpperCase, &ConfigManager::lockUpperCase, false},
        {Box::shiftSwitchMode, &ConfigManager::shiftSwitchMode, false},
        {Box::controlSwitchMode, &ConfigManager::controlSwitchMode, false},
        {Box::statusHint, &ConfigManager::statusHint, false},
        {Box::persistedEnMode, &ConfigManager::persistedEnMode, false},
        {Box::voiceOverOnlyWordButton, &ConfigManager::voiceOverWordOnly, false},
    };
    for (const auto& c : cases) {
        const bool shown = page_->checked(c.box);
        EXPECT_EQ(shown, (*config_.*c.field) != c.inverted) << static_cast<int>(c.box);
        channel_->clear();
        page_->toggle(c.box, !shown);
        EXPECT_EQ((*saved()).*c.field, !shown != c.inverted) << static_cast<int>(c.box);
        page_->toggle(c.box, shown);
        EXPECT_EQ((*saved()).*c.field, shown != c.inverted) << static_cast<int>(c.box);
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload"}));
    }
}

TEST_F(GeneralTabTest, LayoutAndFontSizeTellTheInputMethodAfterTheSave) {
    page_->choose(PopUp::candidateBarLayout, 1);
    EXPECT_TRUE(saved()->verticalCandidates);
    EXPECT_EQ(page_->candidateNumberEnabled(), false);
    page_->choose(PopUp::candidateBarLayout, 0);
    EXPECT_EQ(page_->candidateNumberEnabled(), true);
    const auto& sizes = TabOneController::popUp(PopUp::fontSize).titles;
    const int item18 = static_cast<int>(std::find(sizes.begin(), sizes.end(), "18") - sizes.begin());
    page_->choose(PopUp::fontSize, item18);
    EXPECT_EQ(saved()->fontSize, 18);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "switchCandidatesPanel=竖排候选栏",
                                                  "configNeedsReload", "switchCandidatesPanel=横排候选栏",
                                                  "configNeedsReload", "setFontSize=18"}));
    page_->viewDidAppear();
    EXPECT_EQ(page_->selectedIndex(PopUp::fontSize), item18);
}

// A size an earlier version saved shows as the nearest offered item, the one
// the input method draws; the file keeps it until the user picks a size, and
// a new face is sent with the size the window draws.
TEST_F(GeneralTabTest, AnOldFontSizeShowsAsTheNearestOfferedOne) {
    const auto& titles = TabOneController::popUp(PopUp::fontSize).titles;
    const struct {
        std::int64_t stored;
        const char* shown;
    } cases[] = {{20, "18"}, {15, "16"}, {28, "32"}, {21, "24"}, {12, "14"}, {48, "32"}, {24, "24"}};
    for (const auto& c : cases) {
        config_->fontSize = c.stored;
        config_->save();
        const std::string before = bytesOf(folder_ / "config.plist");
        ConfigManager reread(folder_);
        TabOneController page(reread);
        page.viewDidAppear();
        const int index = page.selectedIndex(PopUp::fontSize);
        ASSERT_GE(index, 0) << c.stored;
        EXPECT_EQ(titles[static_cast<size_t>(index)], c.shown) << c.stored;
        EXPECT_EQ(std::to_string(static_cast<int>(taviro::nearestFontSize(c.stored))), c.shown) << c.stored;
        EXPECT_EQ(page.selectCandidateFont().size, std::stoi(c.shown)) << c.stored;
        EXPECT_EQ(bytesOf(folder_ / "config.plist"), before) << c.stored;

        channel_->clear();
        page.toggle(Box::candidateFontBox, false);
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", std::string("setFontSize=") + c.shown}));
        EXPECT_EQ(saved()->fontSize, c.stored);
    }
}

// Every size the menu offers is one the input method draws, and every size it
// draws is offered: choosing an item sends a size the command accepts.
TEST_F(GeneralTabTest, TheFontSizeMenuOffersExactlyTheSizesTheInputMethodDraws) {
    const auto& titles = TabOneController::popUp(PopUp::fontSize).titles;
    for (std::int64_t raw = -2; raw <= 100; ++raw) {
        const bool offered = std::find(titles.begin(), titles.end(), std::to_string(raw)) != titles.end();
        EXPECT_EQ(offered, taviro::fontSizeFromRaw(raw).has_value()) << raw;
    }
    for (int index = 0; index < static_cast<int>(titles.size()); ++index) {
        channel_->clear();
        page_->choose(PopUp::fontSize, index);
        const std::int64_t stored = saved()->fontSize;
        EXPECT_TRUE(taviro::fontSizeFromRaw(stored).has_value()) << titles[static_cast<size_t>(index)];
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "setFontSize=" + std::to_string(stored)}));
    }
}

TEST_F(GeneralTabTest, PopUpsMapTheirItemsToStoredValues) {
    struct Case {
        PopUp popUp;
        int index;
        int64_t ConfigManager::*field;
        int64_t stored;
        int shownAgain;
    } cases[] = {
        {PopUp::skinColorSwitcher, 0, &ConfigManager::skinColor, 0, 0},
        {PopUp::skinColorSwitcher, 1, &ConfigManager::skinColor, 0, 0},
        {PopUp::skinColorSwitcher, 2, &ConfigManager::skinColor, 1, 2},
        {PopUp::skinColorSwitcher, 3, &ConfigManager::skinColor, 2, 3},
        {PopUp::bufferStyleSelector, 1, &ConfigManager::bufferDisplayMode, 0, 0},
        {PopUp::bufferStyleSelector, 3, &ConfigManager::bufferDisplayMode, 2, 3},
        {PopUp::candidateNumber, 5, &ConfigManager::candidateNumber, 5, 5},
        {PopUp::voiceOverLib, 1, &ConfigManager::voiceOverLibVersion, 1, 1},
        {PopUp::s2tType, 1, &ConfigManager::s2tType, 1, 1},
        {PopUp::s2tType, 3, &ConfigManager::s2tType, 3, 3},
    };
    for (const auto& c : cases) {
        channel_->clear();
        page_->choose(c.popUp, c.index);
        EXPECT_EQ((*saved()).*c.field, c.stored) << static_cast<int>(c.popUp) << " " << c.index;
        EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload"}));
        page_->viewDidAppear();
        EXPECT_EQ(page_->selectedIndex(c.popUp), c.shownAgain);
    }
    page_->choose(PopUp::selectBGStyle, 1);
    EXPECT_TRUE(saved()->selectNoBG);
    page_->viewDidAppear();
    EXPECT_EQ(page_->selectedIndex(PopUp::selectBGStyle), 1);
}

TEST_F(GeneralTabTest, NoSelectionAndValuesOutsideTheMenusChangeNothing) {
    page_->choose(PopUp::s2tType, -1);
    page_->choose(PopUp::fontSize, 999);
    page_->choose(PopUp::candidateNumber, -1);
    EXPECT_TRUE(posted().empty());
    config_->fontSize = 17000;
    config_->s2tType = 9;
    config_->skinColor = 40;
    config_->candidateNumber = int64_t{1} << 40;
    config_->voiceOverLibVersion = -3;
    page_->viewDidAppear();
    EXPECT_EQ(page_->selectedIndex(PopUp::candidateNumber), -1);
    EXPECT_EQ(page_->selectedIndex(PopUp::voiceOverLib), -1);
    // A font size is never outside the menu: it shows as the nearest offered one.
    const auto& sizes = TabOneController::popUp(PopUp::fontSize).titles;
    EXPECT_EQ(page_->selectedIndex(PopUp::fontSize),
              static_cast<int>(std::find(sizes.begin(), sizes.end(), "32") - sizes.begin()));
    EXPECT_EQ(page_->selectedIndex(PopUp::s2tType), -1);
    EXPECT_EQ(page_->selectedIndex(PopUp::skinColorSwitcher), -1);
}

TEST_F(GeneralTabTest, ConversionPopUpFollowsTheConversionBox) {
    EXPECT_FALSE(page_->s2tTypeEnabled());
    page_->toggle(Box::s2t, true);
    EXPECT_TRUE(page_->s2tTypeEnabled());
    EXPECT_TRUE(saved()->s2t);
    page_->toggle(Box::s2t, false);
    EXPECT_FALSE(page_->s2tTypeEnabled());
}

TEST_F(GeneralTabTest, CandidateFontIsStoredAndRedrawnWithTheSameSize) {
    EXPECT_FALSE(page_->checked(Box::candidateFontBox));
    EXPECT_FALSE(page_->fontButtonEnabled());
    EXPECT_FALSE(page_->selectCandidateFont().family);

    page_->toggle(Box::candidateFontBox, true); // only enables the button
    EXPECT_TRUE(page_->fontButtonEnabled());
    EXPECT_TRUE(posted().empty());
    page_->changeFont("Noto Serif CJK SC");
    EXPECT_EQ(saved()->candidateFontName, "Noto Serif CJK SC");
    EXPECT_EQ(page_->fontButtonFamily(), "Noto Serif CJK SC");
    EXPECT_EQ(page_->selectCandidateFont().family, "Noto Serif CJK SC");
    EXPECT_EQ(page_->selectCandidateFont().size, 16);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "setFontSize=16"}));

    channel_->clear();
    page_->toggle(Box::candidateFontBox, false);
    EXPECT_EQ(saved()->candidateFontName, "");
    EXPECT_EQ(page_->fontButtonFamily(), "");
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "setFontSize=16"}));
}

TEST_F(GeneralTabTest, CandidateColoursAreStoredPerAppearance) {
    EXPECT_FALSE(page_->checked(Box::candidateColorBox));
    EXPECT_FALSE(page_->colorButtonsEnabled());
    EXPECT_EQ(hexString(page_->lightColor()), "000000");
    EXPECT_EQ(hexString(page_->darkColor()), "FFFFFF");

    page_->toggle(Box::candidateColorBox, true);
    EXPECT_TRUE(page_->colorButtonsEnabled());
    EXPECT_EQ(hexString(page_->colorSelector(1)), "FFFFFF");
    page_->setColor(RGB{30 / 255.0, 144 / 255.0, 1.0});
    EXPECT_EQ(saved()->candidateFontColorDark, 30 * 65536 + 144 * 256 + 255);
    page_->colorSelector(0);
    page_->setColor(RGB{0.5, 0.5, 0.5});
    EXPECT_EQ(saved()->candidateFontColorLight, 0x7F7F7F);
    page_->viewDidAppear();
    EXPECT_TRUE(page_->checked(Box::candidateColorBox));

    channel_->clear();
    page_->toggle(Box::candidateColorBox, false);
    EXPECT_EQ(saved()->candidateFontColorLight, 0);
    EXPECT_EQ(saved()->candidateFontColorDark, 0xFFFFFF);
    EXPECT_EQ(posted(), (std::vector<std::string>{"configNeedsReload", "configNeedsReload"}));
    page_->viewDidAppear();
    EXPECT_FALSE(page_->checked(Box::candidateColorBox));
}

TEST(ColorValueTest, HexStringTruncatesAndClampsEachChannel) {
    struct Case {
        RGB color;
        const char* hex;
        int64_t value;
    } cases[] = {
        {{0.5, 0.5, 0.5}, "7F7F7F", 0x7F7F7F},
        {{1, 1, 1}, "FFFFFF", 16777215},
        {{0, 0, 0}, "000000", 0},
        {{1.0, 0.0, 0.5}, "FF007F", 0xFF007F},
        {{1.2, -0.3, 2.0}, "FF00FF", 0xFF00FF},
        {{std::numeric_limits<double>::quiet_NaN(), 0, std::numeric_limits<double>::infinity()}, "000000", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexString(c.color), c.hex);
        EXPECT_EQ(hexValue(c.color), c.value);
    }
    EXPECT_EQ(hexString(colorFromValue(0x1E90FF)), "1E90FF");
    EXPECT_EQ(hexString(colorFromValue(0x7F7F7F)), "7F7F7F");
}

} // namespace
} // namespace kelvane
