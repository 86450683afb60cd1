#include "InputMethod/TavCandidates/CandidatesVController.h"

#include "InputMethod/Core/ConfigManager.h"

#include <cmath>

namespace taviro {

CandidatesVController::CandidatesVController(CandidateEnvironment environment)
    : CandidateController(std::move(environment)) {
    applyFontSize(fontSize());
}

void CandidatesVController::applyFontSize(FontSize size) {
    double height = 280.0;
    switch (size) {
    case FontSize::s14: height = 262.0; break;
    case FontSize::s16: height = 280.0; break;
    case FontSize::s18: height = 310.0; break;
    case FontSize::s24: height = 414.0; break;
    case FontSize::s32: height = 604.0; break;
    }
    setSize({335.0, height});
}

void CandidatesVController::placeCellsVertically(const std::vector<std::string>& strings, bool repositionOnly,
                                                 double width, double height, bool wholeRows) {
    const long long number = settings()->candidateNumber;
    const int innerWidth = static_cast<int>(std::trunc(width - 10.0));
    double y = height - 2.0;
    for (std::size_t i = 0; i < resuseCandidateCells_.size(); ++i) {
        CandidateCell& cell = *resuseCandidateCells_[i];
        if ((y <= 0 && number < 1) || cell.number >= static_cast<int>(strings.size()) ||
            (number != 0 && static_cast<long long>(i) >= number))
            break;
        cell.setContent(strings[static_cast<std::size_t>(cell.number)], *fontCache_);
        cell.setFrameSize(innerWidth);
        cell.frame.size = {static_cast<double>(innerWidth), std::trunc(cell.frame.size.height)};
        if (wholeRows && number < 1 && i > 0 && y - cell.frame.size.height < 0) break;
        y -= cell.frame.size.height;
        cell.frame.origin = {static_cast<double>(candidateUpDownSpace_ / 2), std::trunc(y)};
        cell.layout();
        if (!repositionOnly) addToPage(cell);
        y -= candidateSpace_;
    }
}

Size CandidatesVController::pageArea() const {
    if (settings()->candidateNumber > 0) return frame().size;
    return {size().width, room_ ? std::min(*room_, size().height) : size().height};
}

void CandidatesVController::layoutCandidates(const std::vector<std::string>& strings) {
    prepareCells();
    trace(std::to_string(currentPage()));
    const Size area = pageArea();
    placeCellsVertically(strings, false, area.width, area.height, room_.has_value());
    // A window shrunk to its rows keeps the page at its top.
    if (settings()->candidateNumber < 1 && frame().size.height < area.height)
        placeCellsVertically(strings, true, area.width, frame().size.height, room_.has_value());
}

void CandidatesVController::reloadCandidates() {
    auto list = fetchCandidates();
    if (list.empty()) {
        reloadFoundNothing();
        return;
    }
    storeCandidates(std::move(list));
    layoutFirstPage();
}

void CandidatesVController::layoutFirstPage() {
    prepareCells();
    trace(std::to_string(currentPage()));
    const Size area = pageArea();
    placeCellsVertically(candidates(), false, area.width, area.height, room_.has_value());
    setFirstPage();

    double height = settings()->candidateNumber > 0 ? size().height : area.height;
    double rows = 0;
    for (const auto* cell : visiableCandidateCells_) rows += std::trunc(cell->frame.size.height) + candidateSpace_;
    // As tall as the rows when all fit, with a count per page, or when the
    // pool's nine rows end above the bottom (no empty band below them).
    if (visibleCandidateCount() == static_cast<int>(candidates().size()) || settings()->candidateNumber > 0 ||
        rows < area.height)
        height = rows;
    if (room_) height = std::min(height, area.height);
    placeCellsVertically(candidates(), true, size().width, height, room_.has_value());
    if (!visiableCandidateCells_.empty()) highlightCandidate(0);
    setFrame(Rect{frame().origin, {size().width, height}});
    changed();
}

bool CandidatesVController::shortenTo(double height) {
    if (settings()->candidateNumber > 0 || candidates().empty() || height >= frame().size.height) return false;
    room_ = height;
    layoutFirstPage();
    return true;
}

void CandidatesVController::showAtCaret(plat::TextInputClient* client) {
    if (!client) return;
    setHighlightBackground(CandidateColors::selectedContentBackground());
    setBackground(environment().appearance->isDark() ? CandidateColors::darkColor() : Color::white());
    room_.reset();
    reloadCandidates();
    if (candidates().empty()) return;
    // Below the caret, or above the line when too near the bottom.
    placeAndShow(*client, [](double caretY, double height, const Rect& screen) {
        double y = caretY - (height + 5.0);
        if (y < screen.minY() + 100.0) y = y + height + 35.0 + 5.0;
        return y;
    });
}

} // namespace taviro
