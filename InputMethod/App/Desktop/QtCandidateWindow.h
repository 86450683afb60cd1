#pragma once
#include "InputMethod/PagedCandidateWindow.h"

#include <functional>
#include <memory>

class QLabel;

namespace taviro {

// The paged candidate window drawn as one small always-on-top line of text
// under the caret. It never takes the focus from the client.
class QtCandidateWindow : public PagedCandidateWindow {
public:
    // `screenHeight` converts screen points (y up) into Qt's pixels (y down).
    QtCandidateWindow(bool vertical, std::function<double()> screenHeight);
    ~QtCandidateWindow() override;

    void reloadCandidates() override;
    void highlightCandidate(int index) override;
    bool nextPage() override;
    bool previousPage() override;
    void showAtCaret(plat::TextInputClient* client) override;
    void close() override;
    void setFontSize(FontSize size) override;

    QLabel* widget() const { return label_.get(); }

private:
    void redraw();
    std::function<double()> screenHeight_;
    std::unique_ptr<QLabel> label_;
};

} // namespace taviro
