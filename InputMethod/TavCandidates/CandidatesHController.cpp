#include "InputMethod/TavCandidates/CandidatesHController.h"

#include "InputMethod/Core/ConfigManager.h"

#include <algorithm>
#include <cmath>

namespace taviro {

CandidatesHController::CandidatesHController(CandidateEnvironment environment)
    : CandidateController(std::move(environment)) {
    applyFontSize(fontSize());
    UpButton_.accessibilityTitle = "上一页";
    DownButton_.accessibilityTitle = "下一页";
    UpButton_.frame.size = DownButton_.frame.size = {8.0, 8.0};
    UpButton_.image = PageButton::Image::upBlack;
    DownButton_.image = PageButton::Image::downBlack;
}

void CandidatesHController::applyFontSize(FontSize size) {
    switch (size) {
    case FontSize::s14: setSize({362.0, 28.0}); break;
    case FontSize::s16: setSize({394.0, 30.0}); break;
    case FontSize::s18: setSize({446.0, 32.0}); break;
    case FontSize::s24: setSize({582.0, 40.0}); break;
    case FontSize::s32: setSize({872.0, 50.0}); break;
    }
}

void CandidatesHController::layoutCandidates(const std::vector<std::string>& strings) {
    prepareCells();
    const long long number = settings()->candidateNumber;
    const Size nominal = size();
    // No row is wider than the screen: a count per page takes fewer
    // candidates where the screen ends, the rest come on later pages.
    const double screen = screenWidth();
    const double widest = std::min(nominal.width, screen);
    const double limit = number > 0 ? screen : widest;
    const double cellHeight = std::round(nominal.height) - candidateUpDownSpace_;
    double x = 2.0;
    for (std::size_t i = 0; i < resuseCandidateCells_.size(); ++i) {
        CandidateCell& cell = *resuseCandidateCells_[i];
        if (cell.number >= static_cast<int>(strings.size()) || (number != 0 && static_cast<long long>(i) >= number))
            break;
        const double w = cell.setContent(strings[static_cast<std::size_t>(cell.number)], *fontCache_);
        cell.frame = Rect{{std::round(x), std::round(candidateUpDownSpace_ / 2.0)}, {std::round(w), cellHeight}};
        const double nextX = x + (w + candidateSpace_);
        if (cell.number == 0 && nextX >= widest - 15.0) {
            // One candidate wider than the window allows: cut it, alone on its page.
            cell.setFrameSize(static_cast<int>(std::trunc(widest - 30.0)));
            cell.frame.size = {std::round(widest) - 30.0, cellHeight};
            cell.layout();
            addToPage(cell);
            if (number < 1) break;
        } else if (nextX < limit - 15.0) {
            cell.layout();
            addToPage(cell);
        } else {
            break;
        }
        x = nextX;
    }
}

void CandidatesHController::reloadCandidates() {
    auto list = fetchCandidates();
    if (list.empty()) {
        reloadFoundNothing();
        return;
    }
    storeCandidates(std::move(list));
    layoutCandidates(candidates());
    setFirstPage();
    const long long number = settings()->candidateNumber;
    const Size nominal = size();
    double width = std::min(nominal.width, screenWidth());
    if (visibleCandidateCount() == static_cast<int>(candidates().size()) || number > 0) {
        UpButton_.hidden = DownButton_.hidden = number < 1;
        width = 0;
        for (const auto* cell : visiableCandidateCells_) width += std::trunc(cell->frame.size.width) + candidateSpace_;
        width -= candidateSpace_ - candidateUpDownSpace_;
        if (number > 0) width += 20;
    } else {
        UpButton_.hidden = DownButton_.hidden = false;
    }
    UpButton_.frame.origin = {width - 18.0, nominal.height - 14.0};
    DownButton_.frame.origin = {width - 18.0, 6.0};
    if (!visiableCandidateCells_.empty()) highlightCandidate(0);
    setFrame(Rect{frame().origin, {width, nominal.height}});
    changed();
}

double CandidatesHController::screenWidth() const {
    if (screenWidth_) return *screenWidth_;
    const auto screens = environment().screens->screens();
    return screens.empty() ? size().width : screens.front().size.width;
}

void CandidatesHController::showAtCaret(plat::TextInputClient* client) {
    if (!client) return;
    const bool dark = environment().appearance->isDark();
    UpButton_.image = dark ? PageButton::Image::upWhite : PageButton::Image::upBlack;
    DownButton_.image = dark ? PageButton::Image::downWhite : PageButton::Image::downBlack;
    setHighlightBackground(CandidateColors::selectedContentBackground());
    setBackground(dark ? CandidateColors::darkColor() : Color::white());
    if (const auto screen = screenFor(caretRect(*client).origin)) screenWidth_ = screen->size.width;
    reloadCandidates();
    if (candidates().empty()) return;
    // Below the caret, or 70 higher when too near the bottom (and at least
    // clear of the line: the placement lifts it).
    placeAndShow(*client, [](double caretY, double height, const Rect& screen) {
        double y = caretY - (height + 5.0);
        if (y < screen.minY() + 50.0) y = y + 70.0;
        return y;
    });
}

} // namespace taviro
