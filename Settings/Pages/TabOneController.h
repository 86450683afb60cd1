#pragma once
#include "Settings/Pages/ColorValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

class ConfigManager;

// Presenter of the general tab: its check boxes and pop-ups over the settings, the
// candidate font and the two candidate colours. Every action sets one setting and saves
// (which posts "configNeedsReload"); the layout and font-size changes also tell the input
// method directly. The view draws the state below after each call.
class TabOneController {
public:
    enum class Box {
        shiftToBoot, mixEnglishInput, autoBlank, s2t, sjrqxq, superJP, noEmojiCandidate, zRepeat, zFullSpell,
        disableBootButton, closeBootButtonSecond, forceQwerty, lockUpperCase, shiftSwitchMode, controlSwitchMode,
        statusHint, persistedEnMode, voiceOverOnlyWordButton, candidateFontBox, candidateColorBox,
    };
    static constexpr size_t kBoxCount = 20;
    enum class PopUp { fontSize, candidateBarLayout, selectBGStyle, s2tType, skinColorSwitcher, bufferStyleSelector,
                       candidateNumber, voiceOverLib };
    static constexpr size_t kPopUpCount = 8;

    struct BoxInfo {
        Box box;
        std::string_view outlet;
        std::string_view title;
    };
    struct PopUpInfo {
        PopUp popUp;
        std::string_view outlet;
        std::string_view label;
        std::vector<std::string> titles; // "" is a separator
    };
    static const std::array<BoxInfo, kBoxCount>& boxes();
    static const std::array<PopUpInfo, kPopUpCount>& popUps();
    static const PopUpInfo& popUp(PopUp p) { return popUps()[static_cast<size_t>(p)]; }
    // The conversion titles, by "S2tType".
    static constexpr std::array<std::string_view, 4> kConversionTitles = {"台湾正体", "香港繁体", "繁体出简", "无脑繁体"};

    // Help texts of the three help buttons.
    static const std::string kAutoSpaceHelp;
    static const std::string kPersistedEnModeHelp;
    static const std::string kVoiceOverHelp;
    // The documentation page that goToBook opens.
    static constexpr const char* kBookURL = "https://taviromac2.quorvel.com/book";

    explicit TabOneController(ConfigManager& config) : config_(config) {}

    // Fills every control from the settings as they are in memory.
    void viewDidAppear();

    // A check box was clicked; `on` is its new state.
    void toggle(Box box, bool on);
    // An item of a pop-up was chosen (-1: no selection).
    void choose(PopUp popUp, int index);

    // Font: the face to preselect in the font dialog (none for the system font) at the
    // candidate size; a picked face; the check box in front of the group.
    struct FontRequest {
        std::optional<std::string> family;
        int64_t size = 16;
    };
    FontRequest selectCandidateFont() const;
    void changeFont(const std::string& family);

    // Colours: a colour button (tag 0: light, else dark) asks for the colour dialog;
    // the colour it starts with. Each colour picked in the dialog is stored at once.
    RGB colorSelector(int tag);
    void setColor(const RGB& color);
    bool editingLightColor() const { return editingLight_; }

    // The state the view draws.
    bool checked(Box box) const { return checked_[static_cast<size_t>(box)]; }
    // Selected item; -1 for none.
    int selectedIndex(PopUp popUp) const { return selected_[static_cast<size_t>(popUp)]; }
    bool s2tTypeEnabled() const { return s2tTypeEnabled_; }
    // None until the layout is chosen: the first refresh leaves it as the layout made it.
    std::optional<bool> candidateNumberEnabled() const { return candidateNumberEnabled_; }
    bool fontButtonEnabled() const { return fontButtonEnabled_; }
    // The face the font button's title is drawn in (11 points); empty: the system font.
    const std::string& fontButtonFamily() const { return fontButtonFamily_; }
    bool colorButtonsEnabled() const { return colorButtonsEnabled_; }
    RGB lightColor() const;
    RGB darkColor() const;

private:
    void save();
    void refreshColors();

    ConfigManager& config_;
    std::array<bool, kBoxCount> checked_{};
    std::array<int, kPopUpCount> selected_{};
    bool s2tTypeEnabled_ = false;
    std::optional<bool> candidateNumberEnabled_;
    bool fontButtonEnabled_ = false;
    std::string fontButtonFamily_;
    bool colorButtonsEnabled_ = false;
    bool editingLight_ = true;
};

} // namespace kelvane
