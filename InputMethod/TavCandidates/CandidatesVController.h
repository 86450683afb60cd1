#pragma once
#include "InputMethod/TavCandidates/CandidateController.h"

namespace taviro {

// The vertical window: one candidate per row, top to bottom, 335 points wide;
// it shrinks to its rows when they all fit or a count per page is set.
class CandidatesVController : public CandidateController {
public:
    explicit CandidatesVController(CandidateEnvironment environment = {});

    bool isVertical() const override { return true; }
    void applyFontSize(FontSize size) override;
    void layoutCandidates(const std::vector<std::string>& strings) override;
    void reloadCandidates() override;
    void showAtCaret(plat::TextInputClient* client) override;

    // Stacks pool cells for `strings` from the top of a width x height area.
    void placeCellsVertically(const std::vector<std::string>& strings, bool repositionOnly, double width,
                              double height);
};

} // namespace taviro
