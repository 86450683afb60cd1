#pragma once
#include "InputMethod/CandidateWindow.h"

#include <functional>
#include <memory>

namespace taviro {

// Holds the one candidate window of the process and replaces it when the
// layout switches. Main thread only.
class CandidateWindowHolder {
public:
    using Factory = std::function<std::unique_ptr<CandidateWindow>(bool vertical)>;

    // The process's holder; its first window follows "VerticalCandidates"
    // and "FontSize".
    static CandidateWindowHolder& shared();

    // Builds windows with `factory` (a PagedCandidateWindow when empty).
    explicit CandidateWindowHolder(Factory factory = {});

    // The window, created on first use (horizontal unless told otherwise by
    // setInitialLayout).
    CandidateWindow& window();
    // Replaces the window by a new one of that layout.
    CandidateWindow& replace(bool vertical);
    void setFactory(Factory factory) { factory_ = std::move(factory); }
    void setInitialLayout(bool vertical) { initialVertical_ = vertical; }

private:
    Factory factory_;
    bool initialVertical_ = false;
    std::unique_ptr<CandidateWindow> window_;
};

} // namespace taviro
