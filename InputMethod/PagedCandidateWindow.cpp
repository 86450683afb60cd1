#include "InputMethod/PagedCandidateWindow.h"

#include <algorithm>

namespace taviro {
namespace {

std::pair<double, double> windowSize(bool vertical, FontSize size) {
    switch (size) {
    case FontSize::s14: return vertical ? std::pair{335.0, 262.0} : std::pair{362.0, 28.0};
    case FontSize::s16: return vertical ? std::pair{335.0, 280.0} : std::pair{394.0, 30.0};
    case FontSize::s18: return vertical ? std::pair{335.0, 310.0} : std::pair{446.0, 32.0};
    case FontSize::s24: return vertical ? std::pair{335.0, 414.0} : std::pair{582.0, 40.0};
    case FontSize::s32: return vertical ? std::pair{335.0, 604.0} : std::pair{872.0, 50.0};
    }
    return {0, 0};
}

} // namespace

PagedCandidateWindow::PagedCandidateWindow(bool vertical, int pageSize)
    : vertical_(vertical), pageSize_(std::max(1, std::min(pageSize, 9))), size_(windowSize(vertical, fontSize_)) {}

void PagedCandidateWindow::layout(int from) {
    page_.clear();
    const int end = std::min<int>(static_cast<int>(candidates_.size()), from + pageSize_);
    for (int i = from; i < end; ++i) page_.push_back(candidates_[static_cast<std::size_t>(i)]);
}

bool PagedCandidateWindow::nextPage() {
    const int p = currentPage_ + 1;
    if (p < static_cast<int>(pageRange_.size())) {
        layout(pageRange_[static_cast<std::size_t>(p)].first);
    } else {
        int s = 0;
        for (const auto& r : pageRange_) s += r.second;
        if (s >= static_cast<int>(candidates_.size())) return false;
        layout(s);
        pageRange_.emplace_back(s, static_cast<int>(page_.size()));
    }
    currentPage_ = p;
    highlightKept();
    return true;
}

bool PagedCandidateWindow::previousPage() {
    if (currentPage_ <= 0) return false;
    layout(pageRange_[static_cast<std::size_t>(currentPage_ - 1)].first);
    --currentPage_;
    highlightKept();
    return true;
}

// The highlight keeps its place on the new page; on a shorter page it goes to
// the first cell and says so, so the next commit takes what is highlighted
// and not a candidate of the page that went away.
void PagedCandidateWindow::highlightKept() {
    highlightCandidate(selectedIndex_ < static_cast<int>(page_.size()) ? selectedIndex_ : 0);
}

void PagedCandidateWindow::highlightCandidate(int index) {
    if (page_.empty() || index < 0 || index >= static_cast<int>(page_.size())) {
        selectedIndex_ = 0;
        return;
    }
    selectedIndex_ = index;
    if (delegate_) delegate_->candidateSelectionChanged(page_[static_cast<std::size_t>(index)]);
}

void PagedCandidateWindow::reloadCandidates() {
    candidates_ = delegate_ ? delegate_->candidates() : std::vector<std::string>{};
    pageRange_.clear();
    currentPage_ = 0;
    selectedIndex_ = 0;
    if (candidates_.empty()) {
        page_.clear();
        close();
        return;
    }
    layout(0);
    pageRange_.emplace_back(0, static_cast<int>(page_.size()));
    highlightCandidate(0);
}

void PagedCandidateWindow::showAtCaret(plat::TextInputClient* /*client*/) {
    if (candidates_.empty()) return;
    visible_ = true;
}

void PagedCandidateWindow::close() {
    selectedIndex_ = 0;
    currentPage_ = 0;
    visible_ = false;
}

void PagedCandidateWindow::setFontSize(FontSize size) {
    fontSize_ = size;
    size_ = windowSize(vertical_, size);
}

void PagedCandidateWindow::selectCandidate() {
    if (selectedIndex_ < static_cast<int>(page_.size()) && delegate_) delegate_->commitComposition(delegate_->currentClient());
    close();
}

} // namespace taviro
