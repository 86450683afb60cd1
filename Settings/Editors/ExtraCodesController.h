#pragma once
#include <array>
#include <string>
#include <string_view>

namespace kelvane {

class ConfigManager;

// The extra-characters page: a text field with the characters besides the letters that
// the input method takes into its composition buffer ("ExtraCode"), five boxes that add
// or remove one common punctuation character each, and a help text. Every change is
// saved at once through the settings store.
class ExtraCodesController {
public:
    // The page's route under "taviromac2://functions/" and the sheet's title.
    static constexpr std::string_view kRoute = "extraCode";
    static constexpr std::string_view kTitle = "额外编码";

    struct Box {
        int tag;
        std::string_view outlet;
        std::string_view character;
    };
    // fh, yh, dh, jh, xg: tags 1-5.
    static const std::array<Box, 5>& boxes();
    static const std::string kHelp;

    explicit ExtraCodesController(ConfigManager& config);

    // Shows the stored text and sets every box from it.
    void viewDidLoad();

    const std::string& fieldText() const { return fieldText_; }
    // A box's state; false for a tag outside 1-5.
    bool boxState(int tag) const;

    // A box was switched: appends its character (on) or removes every occurrence (off),
    // then saves. A tag outside 1-5 changes nothing.
    void quickSetting(int tag, bool on);
    // The field's editing ended with `text`: stores and shows filtered(text).
    void controlTextDidEndEditing(const std::string& text);

    // The text without ASCII letters and without repeated characters (user-perceived
    // characters, first occurrence kept, order kept).
    static std::string filtered(const std::string& text);

private:
    void store(std::string text);

    ConfigManager& config_;
    std::string fieldText_;
    std::array<bool, 5> states_{};
};

} // namespace kelvane
