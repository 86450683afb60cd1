#pragma once
#include "InputMethod/TavCandidates/CandidateController.h"

namespace taviro {

// The vertical window: one candidate per row, top to bottom, 335 points wide;
// it shrinks to its rows when they all fit, a count per page is set or its
// nine rows end above its nominal bottom.
class CandidatesVController : public CandidateController {
public:
    explicit CandidatesVController(CandidateEnvironment environment = {});

    bool isVertical() const override { return true; }
    void applyFontSize(FontSize size) override;
    void layoutCandidates(const std::vector<std::string>& strings) override;
    void reloadCandidates() override;
    void showAtCaret(plat::TextInputClient* client) override;

    // Stacks pool cells for `strings` from the top of a width x height area;
    // with `wholeRows` no row runs past its bottom.
    void placeCellsVertically(const std::vector<std::string>& strings, bool repositionOnly, double width,
                              double height, bool wholeRows = false);

protected:
    // With an automatic count, a column that fits nowhere whole at the caret
    // shows the rows that fit `height` (no fewer than one) until the next
    // time it is placed.
    bool shortenTo(double height) override;

private:
    // The area the automatic count fills: the nominal size, or less after shortenTo.
    Size pageArea() const;
    void layoutFirstPage();

    std::optional<double> room_;
};

} // namespace taviro
