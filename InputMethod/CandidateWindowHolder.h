#pragma once
#include "InputMethod/CandidateWindow.h"

#include <functional>
#include <memory>

namespace taviro {

class TouchBarCandidateController;
class TouchBarPresentation;

// Holds the one candidate window of the process, replaces it when the layout
// switches, and keeps the Touch Bar strip and bar that follow it.
// Main thread only.
class CandidateWindowHolder {
public:
    using Factory = std::function<std::unique_ptr<CandidateWindow>(bool vertical)>;

    // The process's holder; its first window follows "VerticalCandidates"
    // and "FontSize".
    static CandidateWindowHolder& shared();

    // Builds windows with `factory`; without one, the window models
    // (CandidatesVController, CandidatesHController) with the fixed-width
    // measurer and the strip of this holder, drawn by nothing.
    explicit CandidateWindowHolder(Factory factory = {});
    ~CandidateWindowHolder();
    CandidateWindowHolder(const CandidateWindowHolder&) = delete;
    CandidateWindowHolder& operator=(const CandidateWindowHolder&) = delete;

    // The window, created on first use (horizontal unless told otherwise by
    // setInitialLayout).
    CandidateWindow& window();
    // Replaces the window by a new one of that layout.
    CandidateWindow& replace(bool vertical);
    // The delegate's candidates in the window, at its client's caret, and the
    // Touch Bar with them when there are any.
    void show(CandidateWindowDelegate& delegate);
    void setFactory(Factory factory) { factory_ = std::move(factory); }
    void setInitialLayout(bool vertical) { initialVertical_ = vertical; }
    // Whether a window has been built yet.
    bool hasWindow() const { return static_cast<bool>(window_); }

    // The Touch Bar strip that mirrors the window, and the input method's
    // Touch Bar; both built on first use, on the shared Touch Bar host.
    TouchBarCandidateController& strip();
    TouchBarPresentation& touchBar();

private:
    Factory factory_;
    bool initialVertical_ = false;
    std::unique_ptr<TouchBarCandidateController> strip_;
    std::unique_ptr<TouchBarPresentation> touchBar_;
    std::unique_ptr<CandidateWindow> window_; // last: goes before the strip
};

} // namespace taviro
