#pragma once
#include "InputMethod/Core/Color.h"
#include "InputMethod/TavCandidates/CandidateEnvironment.h"
#include "InputMethod/TavCandidates/Geometry.h"

#include <string>

namespace taviro {

class CandidateController;

// A text label of a cell: its text, font, frame in the cell and colour.
struct CellLabel {
    std::string text;
    Font font;
    Rect frame;
    Color color;
};

// One candidate of the window: a number label and the candidate text side by
// side. The window keeps nine and reuses them for every page. Frames are in
// window points, y up.
class CandidateCell {
public:
    // A candidate text may carry a code hint behind this separator; it is
    // shown as a space and never spoken.
    static constexpr const char* kHintSeparator = "dj%dA8.C";

    CandidateCell(CandidateController& window, int number);
    CandidateCell(const CandidateCell&) = delete;
    CandidateCell& operator=(const CandidateCell&) = delete;

    int number = 0;
    std::string candidateContent;
    CellLabel contentField;
    CellLabel numberField;
    bool isSelected = false;
    Rect frame;

    // Sets the text and fonts, sizes both labels to fit, and returns the
    // width the cell needs (both labels + 10).
    double setContent(const std::string& text, const Font& font);
    // Limits the content label to `width`; the cell becomes (old content
    // width + 15, old content height + 2).
    void setFrameSize(int width);
    void applyColors();
    // Places the labels: number at x 2, content after it, both centred.
    void layout();

    // A click on the content label, or a screen reader's press: posts
    // "DidClickCandidate" with this cell.
    void didClickCell();
    bool accessibilityPerformPress();
    std::string accessibilityLabel() const { return voiceOverDescription(); }
    std::string accessibilityRole() const { return "AXButton"; }
    // The frame on screen when the cell is in a window, else its frame.
    Rect accessibilityFrame() const;
    // The spoken form: each character's explanation from the bundle's
    // explanation library ("VoiceOverLib 2" or "VoiceOverLib").
    std::string voiceOverDescription() const;

    // Whether the window shows the cell (it is on the page on screen).
    bool inWindow() const { return inWindow_; }
    void setInWindow(bool inWindow) { inWindow_ = inWindow; }
    CandidateController& window() const { return window_; }

    // The text with every hint separator replaced by a space.
    static std::string displayText(const std::string& text);
    // Forgets the loaded explanation library (tests).
    static void resetVoiceOverCache();

private:
    CandidateController& window_;
    bool inWindow_ = false;
};

} // namespace taviro
