#pragma once
#include "InputMethod/TavCandidates/CandidateController.h"

namespace taviro {

// The horizontal window: candidates side by side in one row of fixed height,
// with two small page buttons at its right end.
class CandidatesHController : public CandidateController {
public:
    struct PageButton {
        enum class Image { none, upBlack, downBlack, upWhite, downWhite };
        bool hidden = false;
        Rect frame;
        Image image = Image::none;
        double alpha = 0.5;
        std::string accessibilityTitle;
    };

    explicit CandidatesHController(CandidateEnvironment environment = {});

    bool isVertical() const override { return false; }
    void applyFontSize(FontSize size) override;
    void layoutCandidates(const std::vector<std::string>& strings) override;
    void reloadCandidates() override;
    void showAtCaret(plat::TextInputClient* client) override;

    const PageButton& upButton() const { return UpButton_; }
    const PageButton& downButton() const { return DownButton_; }
    // The buttons' actions.
    void pressUpButton() { previousPage(); }
    void pressDownButton() { nextPage(); }

private:
    // The width of the screen the window was last placed on (before that,
    // of the main screen): no row is wider.
    double screenWidth() const;

    PageButton UpButton_;
    PageButton DownButton_;
    std::optional<double> screenWidth_;
};

} // namespace taviro
