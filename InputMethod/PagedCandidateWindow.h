#pragma once
#include "InputMethod/CandidateWindow.h"

#include <string>
#include <utility>
#include <vector>

namespace taviro {

// A candidate window without drawing or measuring: fixed-size pages laid
// out forward, a highlight and a visible flag. A stand-in for tests of the
// controller.
class PagedCandidateWindow : public CandidateWindow {
public:
    explicit PagedCandidateWindow(bool vertical, int pageSize = 9);

    bool isVertical() const override { return vertical_; }
    bool isVisible() const override { return visible_; }
    int currentPage() const override { return currentPage_; }
    void setCurrentPage(int page) override { currentPage_ = page; }
    int selectedIndex() const override { return selectedIndex_; }
    void setSelectedIndex(int index) override { selectedIndex_ = index; }
    int visibleCandidateCount() const override { return static_cast<int>(page_.size()); }
    std::vector<std::string> visibleCandidates() const override { return page_; }

    bool nextPage() override;
    bool previousPage() override;
    void highlightCandidate(int index) override;
    void reloadCandidates() override;
    void showAtCaret(plat::TextInputClient* client) override;
    void close() override;
    void selectCandidate() override;

    CandidateWindowDelegate* delegate() const override { return delegate_; }
    void setDelegate(CandidateWindowDelegate* delegate) override { delegate_ = delegate; }

    FontSize fontSize() const override { return fontSize_; }
    void setFontSize(FontSize size) override;

    // The window's nominal size for its font size.
    std::pair<double, double> size() const { return size_; }
    const std::vector<std::pair<int, int>>& pageRange() const { return pageRange_; }
    const std::vector<std::string>& allCandidates() const { return candidates_; }

    std::string render() const { return renderCandidateText(*this); }

private:
    void layout(int from);
    void highlightKept();

    bool vertical_;
    int pageSize_;
    bool visible_ = false;
    int currentPage_ = 0;
    int selectedIndex_ = 0;
    std::vector<std::string> candidates_;
    std::vector<std::string> page_;
    std::vector<std::pair<int, int>> pageRange_;
    CandidateWindowDelegate* delegate_ = nullptr;
    FontSize fontSize_ = FontSize::s16;
    std::pair<double, double> size_;
};

} // namespace taviro
