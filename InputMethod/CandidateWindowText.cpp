#include "InputMethod/CandidateWindow.h"
#include "InputMethod/TavCandidates/CandidateCell.h"

namespace taviro {

std::string renderCandidateText(const CandidateWindow& window) {
    if (!window.isVisible()) return {};
    std::string out;
    const auto page = window.visibleCandidates();
    for (std::size_t i = 0; i < page.size(); ++i) {
        std::string cell = std::to_string(i + 1) + "." + CandidateCell::displayText(page[i]);
        if (static_cast<int>(i) == window.selectedIndex()) cell = "[" + cell + "]";
        if (!out.empty()) out += ' ';
        out += cell;
    }
    return out;
}

} // namespace taviro
