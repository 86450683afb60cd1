#pragma once
#include "InputMethod/TavCandidates/CandidateEnvironment.h"
#include "Platform/TouchBar/TouchBarHost.h"

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace taviro {

class CandidateWindow;
class CandidateWindowDelegate;

// The Touch Bar's strip of tappable words. While composing it mirrors the
// candidate window's page and a tap selects through the window; otherwise it
// offers next-word hints for the text before the caret (smartHint.plist, or
// sixteen common words), and a tap inserts the hint. What it shows goes to a
// Touch Bar host; the host calls the scrubber operations back.
// The bundle's hint table is large: it is read on a worker from construction
// on, and only when the host has a Touch Bar (without one nothing is shown,
// and the table stays empty). Main thread only.
class TouchBarCandidateController {
public:
    using HintTable = std::map<std::string, std::vector<std::string>>;

    struct Environment {
        plat::TouchBarHost* host = nullptr;                  // the shared host when unset
        std::function<CandidateWindow*()> window;            // the candidate window
        std::shared_ptr<const TextMeasurer> measurer;        // a fixed-width one when unset
        // Reads the hint table, at the first lookup; unset: smartHint.plist
        // of the bundle, read in the background.
        std::function<HintTable()> loadHints;
    };

    static constexpr const char* kCellIdentifier = "cell";
    static constexpr const char* kItemIdentifier = "com.quorvel.inputmethod.TaviroMac2.candidate";
    static constexpr double kItemSpacing = 2.0;
    static constexpr double kTextMargin = 30.0;
    static constexpr Rect kInitialFrame{{0, 0}, {490.0, 60.0}};

    explicit TouchBarCandidateController(Environment environment);

    static const std::vector<std::string>& commonWords();
    static plat::TouchBarColor unSelectedBackGroundColor();
    static plat::TouchBarColor selectedBackGroundColor();
    static plat::TouchBarColor stripBackground();
    // smartHint.plist from the bundle; empty when missing or of another form.
    static HintTable readBundleHints();

    // Next-word hints for the text before the caret. The first lookup waits
    // for the background read while it is still running.
    void updateCandidates();
    // The candidate window's page.
    void loadVisibleCandidates();
    const HintTable& smartHint();
    Size cellWidth(int index) const;

    // --- what the scrubber asks and reports -------------------------------
    int numberOfItems() const { return static_cast<int>(candidateCache_.size()); }
    plat::ScrubberItem itemAt(int index) const;
    void didHighlightItemAtIndex(int index);
    void didSelectItemAtIndex(int index);
    void didFinishInteracting();
    void didCancelInteracting() { didFinishInteracting(); }

    // The controller the hints are for; unset: the candidate window's delegate.
    void setDelegate(CandidateWindowDelegate* delegate) { imkDelegate_ = delegate; }
    CandidateWindowDelegate* delegate() const;

    const std::vector<std::string>& candidateCache() const { return candidateCache_; }
    int lastHighlightIndex() const { return lastHighlightIndex_; }
    bool isThinking() const { return isThinking_; }
    Rect frame() const { return frame_; }

private:
    void reloadData();

    Environment env_;
    std::vector<std::string> candidateCache_;
    int lastHighlightIndex_ = 0;
    bool isThinking_ = false;
    std::shared_ptr<const HintTable> smartHint_;                   // null until the first lookup
    std::shared_future<std::shared_ptr<const HintTable>> reading_;  // the bundle table, read on a worker
    CandidateWindowDelegate* imkDelegate_ = nullptr;
    Rect frame_ = kInitialFrame;
};

} // namespace taviro
